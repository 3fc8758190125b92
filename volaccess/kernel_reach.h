// Where each kernel gives a value rather than the background: the same
// tests, in the same arithmetic, as the planning, so that callers can
// count the points that fell outside or size what a kernel reads.
#ifndef VOLACCESS_KERNEL_REACH_H
#define VOLACCESS_KERNEL_REACH_H

#include <cstdint>

namespace volaccess {

// Whether the 1-based voxel point (x, y, z) lies where `hold` samples a volume of
// dim voxels: nearest 0.5 <= c < dim + 0.5, trilinear 0.95 <= c < dim +
// 0.05, Lagrange and sinc 0.95 <= c <= dim + 0.05, on every axis. With
// `gradient`, nearest is the Lagrange kernel through one node and reaches
// as far as the Lagrange kernels.
bool within_reach(const uint64_t dim[3], int32_t hold, bool gradient, double x, double y, double z);

}  // namespace volaccess

#endif
