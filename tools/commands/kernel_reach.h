// Where each kernel gives a value rather than the background: the same
// tests, in the same arithmetic, as the volume library's planning, so
// that the program can count the points that fell outside.
#ifndef VOLACCESS_TOOLS_KERNEL_REACH_H
#define VOLACCESS_TOOLS_KERNEL_REACH_H

#include <cstdint>

#include "matrix.h"

namespace vacli {

// Whether the 1-based voxel point p lies where `hold` samples a volume of
// dim voxels: nearest 0.5 <= c < dim + 0.5, trilinear 0.95 <= c < dim +
// 0.05, Lagrange and sinc 0.95 <= c <= dim + 0.05, on every axis. With
// `gradient`, nearest is the Lagrange kernel through one node and reaches
// as far as the Lagrange kernels.
bool within_reach(const uint64_t dim[3], int32_t hold, bool gradient, const Vec3 &p);

}  // namespace vacli

#endif
