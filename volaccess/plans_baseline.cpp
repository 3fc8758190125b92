// The plan stage compiled for the instruction set every x86_64 has (SSE2), or whatever the build targets.
// CMakeLists.txt gives this file its instruction-set flags.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cell_plan.h"
#include "vector_paths.h"

namespace volaccess {
namespace plans_baseline {
#include "plan_body.inc"
}  // namespace plans_baseline

extern const PlanKernels kPlans_baseline = {"baseline", plans_baseline::plan_nearest, plans_baseline::plan_trilinear,
                                      plans_baseline::plan_lookup, plans_baseline::plan_blend_trilinear,
                                      plans_baseline::plan_blend_trilinear_int,
                                      plans_baseline::plan_blend_trilinear_gradient,
                                      plans_baseline::plan_blend_trilinear_gradient_int,
                                      plans_baseline::plan_lagrange_runs,
                                      plans_baseline::plan_lagrange_weights,
                                      plans_baseline::plan_sum_stencils,
                                      plans_baseline::plan_sum_stencils_int,
                                      plans_baseline::plan_sum_gradient_stencils,
                                      plans_baseline::plan_sum_gradient_stencils_int,
                                      plans_baseline::plan_walk_rows};

}  // namespace volaccess
