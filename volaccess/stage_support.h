// What every sampling stage shares: the bit pattern of a coordinate, the
// volume's voxel counts for the plan stage, prefetch hints, how a block
// keeps integer voxels, and the result of a gradient sample. Stages are
// run by the block loop of sample_pipeline.h.
#ifndef VOLACCESS_STAGE_SUPPORT_H
#define VOLACCESS_STAGE_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "cell_plan.h"
#include "volume.h"

namespace volaccess {

// The bit pattern of a coordinate: runs are reused only for a coordinate
// that repeats exactly (so 0.0 and -0.0 count as different).
inline uint64_t coordinate_bits(double c) {
  uint64_t bits;
  std::memcpy(&bits, &c, sizeof bits);
  return bits;
}

inline Dims dims_of(const Volume &vol) { return Dims{vol.dim0, vol.dim1, vol.dim2}; }

// A hint to fetch the cache line holding address into the second-level
// cache, not the first: the line is read a block later, and the nearest
// cache stays free for the voxels of the block being summed (random
// trilinear and lookup samples took a tenth less time than with a fetch
// into the first level). GCC counts a prefetch as free of side effects,
// finds a function that only prefetches to be const and deletes the calls
// to it; the empty volatile statement, which emits no instruction, keeps
// every prefetch where it was written.
inline void prefetch_line(const void *address) {
  __builtin_prefetch(address, 0, 1);
  asm volatile("" : : "r"(address));
}

// A hint to fetch the cache line of element e of plane k.
template <class Voxel>
void prefetch_voxel(const Volume &vol, int32_t k, std::ptrdiff_t e) {
  const auto *plane = static_cast<const unsigned char *>(vol.data[k]);
  prefetch_line(plane + e * static_cast<std::ptrdiff_t>(sizeof(typename Voxel::element_type)));
}

// How a trilinear block keeps the corners of Voxel: as 32-bit integers
// when every value of the element type is one, else as doubles.
template <class Voxel>
using CornerValue = std::conditional_t<std::is_integral_v<typename Voxel::element_type> &&
                                           (sizeof(typename Voxel::element_type) < 4 ||
                                            (sizeof(typename Voxel::element_type) == 4 &&
                                             std::is_signed_v<typename Voxel::element_type>)),
                                       int32_t, double>;

// A value with its derivatives along x, y and z, in real value per voxel.
struct Gradient {
  double value;
  double dx;
  double dy;
  double dz;
};

}  // namespace volaccess

#endif
