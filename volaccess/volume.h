// A volume as the kernels see it, and the per-axis coordinate rules that
// decide which voxels a sample reads.
#ifndef VOLACCESS_VOLUME_H
#define VOLACCESS_VOLUME_H

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace volaccess {

// The record's fields as plain arguments: plane pointers, voxel counts and
// the per-plane scale and offset of the real values.
struct Volume {
  void *const *data;
  int32_t dim0;
  int32_t dim1;
  int32_t dim2;
  const double *scale;
  const double *offset;

  // Element index of voxel (i, j) within its plane. Formed in 64 bits, so
  // even a plane too large for the 32-bit contract is addressed correctly.
  std::ptrdiff_t element(int32_t i, int32_t j) const {
    return static_cast<std::ptrdiff_t>(i) + static_cast<std::ptrdiff_t>(dim0) * j;
  }

  // The real value of a converted voxel of plane k.
  double real(double v, int32_t k) const { return scale[k] * v + offset[k]; }
};

// The voxel whose centre is nearest to the 1-based coordinate c, halves
// going upward: 0.5 <= c < dim + 0.5 is inside. The floor is compared
// before it is converted, so a NaN, an infinity or a value beyond the
// 32-bit range is simply outside.
inline bool nearest_index(double c, int32_t dim, int32_t *index) {
  const double f = std::floor(c - 0.5);
  if (!(f >= 0.0 && f < static_cast<double>(dim))) return false;
  *index = static_cast<int32_t>(f);
  return true;
}

// The trilinear kernels accept up to 0.05 voxel beyond the outer voxel
// centres, the upper end open. c is 0-based; the bound is formed as
// (dim + 0.05) - 1.0, in this order.
inline bool trilinear_inside(double c, int32_t dim) {
  return c >= -0.05 && c < (static_cast<double>(dim) + 0.05) - 1.0;
}

// The lookup-table kernels accept 0.95 <= c <= dim + 0.05 (1-based), both
// ends closed.
inline bool lookup_inside(double c, int32_t dim) {
  return c >= 0.95 && c <= static_cast<double>(dim) + 0.05;
}

// One axis of a trilinear sample: the lower voxel (clamped into the
// volume), the step to the upper one (0 at the rims, so the rim value is
// held over the last 0.05 voxel) and the fraction from the unclamped floor.
struct TrilinearAxis {
  int32_t base;
  int32_t step;
  double t;
};

// c must have passed trilinear_inside, which keeps its floor in -1..dim-1.
inline TrilinearAxis trilinear_axis(double c, int32_t dim) {
  const double floored = std::floor(c);
  const int32_t f = static_cast<int32_t>(floored);
  TrilinearAxis axis;
  axis.base = f < 0 ? 0 : (f > dim - 1 ? dim - 1 : f);
  axis.step = (f >= 0 && f < dim - 1) ? 1 : 0;
  axis.t = c - floored;
  return axis;
}

}  // namespace volaccess

#endif
