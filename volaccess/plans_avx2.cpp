// The plan stage compiled for AVX2: four doubles per register.
// CMakeLists.txt gives this file its instruction-set flags.
#define VOLACCESS_PLAN_PATH avx2
// In this order: the core first, the table of what came before it last.
#include "plan_core.inc"

#include "plan_lookup.inc"

#include "plan_walk.inc"

#include "plan_labels.inc"

#include "plan_table.inc"
