// The plan stage compiled for AVX-512: eight doubles per register.
// CMakeLists.txt gives this file its instruction-set flags.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cell_plan.h"
#include "vector_paths.h"

namespace volaccess {
namespace plans_avx512 {
#include "plan_body.inc"
}  // namespace plans_avx512

extern const PlanKernels kPlans_avx512 = {"avx512", plans_avx512::plan_nearest, plans_avx512::plan_trilinear,
                                      plans_avx512::plan_lookup, plans_avx512::plan_blend_trilinear,
                                      plans_avx512::plan_blend_trilinear_int,
                                      plans_avx512::plan_blend_trilinear_gradient,
                                      plans_avx512::plan_blend_trilinear_gradient_int,
                                      plans_avx512::plan_lagrange_runs,
                                      plans_avx512::plan_lagrange_weights,
                                      plans_avx512::plan_sum_stencils,
                                      plans_avx512::plan_sum_stencils_int,
                                      plans_avx512::plan_sum_gradient_stencils,
                                      plans_avx512::plan_sum_gradient_stencils_int,
                                      plans_avx512::plan_walk_rows};

}  // namespace volaccess
