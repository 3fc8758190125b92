// The plan core compiled for AVX-512: eight doubles per register.
// CMakeLists.txt gives this file its instruction-set flags.
#define VOLACCESS_PLAN_PATH avx512
#include "plan_core.inc"
