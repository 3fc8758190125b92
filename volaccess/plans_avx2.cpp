// The plan core compiled for AVX2: four doubles per register.
// CMakeLists.txt gives this file its instruction-set flags.
#define VOLACCESS_PLAN_PATH avx2
#include "plan_core.inc"
