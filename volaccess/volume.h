// A volume as the kernels see it. The per-axis coordinate rules that
// decide which voxels a sample reads are the plan stage's (plan_core.inc).
#ifndef VOLACCESS_VOLUME_H
#define VOLACCESS_VOLUME_H

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

}  // namespace volaccess

#endif
