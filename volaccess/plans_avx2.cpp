// The plan stage compiled for AVX2: four doubles per register.
// CMakeLists.txt gives this file its instruction-set flags.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cell_plan.h"
#include "vector_paths.h"

namespace volaccess {
namespace plans_avx2 {
#include "plan_body.inc"
}  // namespace plans_avx2

extern const PlanKernels kPlans_avx2 = {"avx2", plans_avx2::plan_nearest, plans_avx2::plan_trilinear,
                                      plans_avx2::plan_lookup, plans_avx2::plan_blend_trilinear,
                                      plans_avx2::plan_blend_trilinear_int,
                                      plans_avx2::plan_blend_trilinear_gradient,
                                      plans_avx2::plan_blend_trilinear_gradient_int,
                                      plans_avx2::plan_lagrange_runs,
                                      plans_avx2::plan_lagrange_weights,
                                      plans_avx2::plan_sum_stencils,
                                      plans_avx2::plan_sum_stencils_int,
                                      plans_avx2::plan_sum_gradient_stencils,
                                      plans_avx2::plan_sum_gradient_stencils_int,
                                      plans_avx2::plan_walk_rows};

}  // namespace volaccess
