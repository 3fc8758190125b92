// The plan core compiled for the instruction set every x86_64 has (SSE2),
// or whatever the build targets.
// CMakeLists.txt gives this file its instruction-set flags.
#define VOLACCESS_PLAN_PATH baseline
#include "plan_core.inc"
