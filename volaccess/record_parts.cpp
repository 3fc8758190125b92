#include "record_parts.h"

#include <cmath>
#include <cstring>

#include "calvex/ext.h"

namespace volaccess {

namespace {

constexpr double kTwoTo64 = 18446744073709551616.0;

// One element of type T at p, which may sit at any alignment.
template <class T>
double load_as(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

}  // namespace

const char kTooLarge[] =
    "Volume too large: each dimension and each plane must hold fewer than 2^31 voxels.";

bool readable(const hxArray *a) {
  return (hxIsNumeric(a) || hxIsLogical(a) || hxIsChar(a)) && !hxIsSparse(a) &&
         hxGetPr(a) != nullptr;
}

double element(const hxArray *a, hxSize i) {
  const unsigned char *p = static_cast<const unsigned char *>(hxGetPr(a)) + i * hxGetElementSize(a);
  switch (hxGetClassID(a)) {
    case hxDOUBLE_CLASS: return load_as<double>(p);
    case hxSINGLE_CLASS: return load_as<float>(p);
    case hxINT8_CLASS: return load_as<int8_t>(p);
    case hxUINT8_CLASS:
    case hxLOGICAL_CLASS: return load_as<uint8_t>(p);
    case hxINT16_CLASS: return load_as<int16_t>(p);
    case hxUINT16_CLASS:
    case hxCHAR_CLASS: return load_as<uint16_t>(p);
    case hxINT32_CLASS: return load_as<int32_t>(p);
    case hxUINT32_CLASS: return load_as<uint32_t>(p);
    case hxINT64_CLASS: return load_as<int64_t>(p);
    case hxUINT64_CLASS: return load_as<uint64_t>(p);
    default: return 0.0;
  }
}

int truncated_int(double v) {
  const double a = std::fabs(v);
  if (!(a < 2147483648.0)) return std::isnan(a) ? 0 : 0x7FFFFFFF;
  return static_cast<int>(a);
}

// |v| truncated to an unsigned 64-bit integer, or false when it has none.
bool truncated_u64(double v, uint64_t *out) {
  const double a = std::fabs(v);
  if (!(a < kTwoTo64)) return false;
  *out = static_cast<uint64_t>(a);
  return true;
}

bool dims_fit_kernels(const uint64_t dim[3]) {
  return dim[0] <= kMaxCount && dim[1] <= kMaxCount && dim[2] <= kMaxCount &&
         dim[0] * dim[1] <= kMaxCount;
}

void set_identity(double mat[16]) {
  for (int e = 0; e < 16; ++e) mat[e] = (e % 5 == 0) ? 1.0 : 0.0;
}

[[noreturn]] void fail_record(VolumeMap *maps, int32_t i, const char *message) {
  free_maps(maps, i + 1);
  extErrMsgTxt(message);
}

bool allocate_planes(VolumeMap *map) {
  map->data = static_cast<void **>(hxCalloc(map->dim[2], sizeof(void *)));
  map->scale = static_cast<double *>(hxCalloc(map->dim[2], sizeof(double)));
  map->offset = static_cast<double *>(hxCalloc(map->dim[2], sizeof(double)));
  return map->data && map->scale && map->offset;
}

void contiguous_planes(VolumeMap *map, unsigned char *base, uint64_t first, uint64_t plane_bytes,
                       double scale, double offset) {
  for (uint64_t k = 0; k < map->dim[2]; ++k) {
    map->scale[k] = scale;
    map->offset[k] = offset;
    map->data[k] = base ? base + first + k * plane_bytes : nullptr;
  }
}

uint64_t plane_bytes(const VolumeMap *map) {
  return map->dim[0] * map->dim[1] * static_cast<uint64_t>(get_datasize(map->dtype) / 8);
}

void read_mat(VolumeMap *maps, int32_t i, const hxArray *ptr) {
  VolumeMap *map = &maps[i];
  set_identity(map->mat);
  const hxArray *mat = hxGetField(ptr, static_cast<hxSize>(i), "mat");
  if (!mat) return;
  if (hxGetM(mat) != 4 || hxGetN(mat) != 4) fail_record(maps, i, "Wrong sized mat.");
  if (!readable(mat)) fail_record(maps, i, "mat must be numeric.");
  for (hxSize e = 0; e < 16; ++e) map->mat[e] = element(mat, e);
}

}  // namespace volaccess
