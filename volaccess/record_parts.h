// The parts every builder of volume records shares (mapping.cpp for host
// arrays and "dat" fields, file_records.cpp for image files): reading the
// elements of host arrays, the per-plane arrays, the matrix, and the
// failure that releases what was built. Internal to the library.
//
// Every failure releases what is held and then raises a host error, which
// does not return. Nothing here holds an automatic object with a
// destructor across such a call, so an unwinding host and a jumping one
// both leave nothing behind.
#ifndef VOLACCESS_RECORD_PARTS_H
#define VOLACCESS_RECORD_PARTS_H

#include <cstdint>

#include "calvex/hx.h"
#include "volaccess.h"

namespace volaccess {

// Kernels index voxels with signed 32-bit counts.
constexpr uint64_t kMaxCount = 0x7FFFFFFFu;

extern const char kTooLarge[];

// Fields are read element by element in their own class, so a field of
// any numeric, logical or char class is read within its bounds.
bool readable(const hxArray *a);
// Element i of a readable array, as a double.
double element(const hxArray *a, hxSize i);

// |v| truncated toward zero, saturated to the int range; NaN gives 0. Used
// where a code is read or printed: no value ever converts out of range.
int truncated_int(double v);
// |v| truncated to an unsigned 64-bit integer, or false when it has none.
bool truncated_u64(double v, uint64_t *out);

// Whether the kernels can index a volume of these dimensions.
bool dims_fit_kernels(const uint64_t dim[3]);
void set_identity(double mat[16]);

// Releases records 0 to i and raises `message`. The records are zeroed when
// made, so record i is released whole however far it was filled.
[[noreturn]] void fail_record(VolumeMap *maps, int32_t i, const char *message);

// The record's three per-plane arrays; false when memory ran out.
bool allocate_planes(VolumeMap *map);
// All planes one after another, plane_bytes apart from base + first (null
// addresses without a base), with one scale and offset.
void contiguous_planes(VolumeMap *map, unsigned char *base, uint64_t first, uint64_t plane_bytes,
                       double scale, double offset);
// The bytes of one plane of the record.
uint64_t plane_bytes(const VolumeMap *map);
// Copies "mat" of element i, or leaves the identity when it is absent.
void read_mat(VolumeMap *maps, int32_t i, const hxArray *ptr);

// Element i of a struct array that describes an image file
// (file_records.cpp).
void map_from_file(VolumeMap *maps, int32_t i, const hxArray *ptr);

}  // namespace volaccess

#endif
