// The three entry points that route a record to the kernels of its voxel
// type: the type is resolved once per request, outside every loop.
#include <cstdint>
#include <cstdio>

#include "volaccess.h"

namespace volaccess {
namespace {

// The entry points of one encoding, typed as the list in volaccess.h
// declares them.
struct Entries {
  int32_t code;
  decltype(&resample_uchar) resample;
  decltype(&resample_d_uchar) resample_d;
  decltype(&slice_uchar) slice;
};

constexpr Entries kUnits[] = {
#define VOLACCESS_TYPE(t, code, element, reader) {(code), resample_##t, resample_d_##t, slice_##t},
#include "voxel_types.def"
#undef VOLACCESS_TYPE
};

// The entries of a type code, or null (after reporting the code on
// standard error) for a code outside the table.
const Entries *find_unit(int32_t dtype) {
  for (const Entries &unit : kUnits) {
    if (unit.code == dtype) return &unit;
  }
  std::fprintf(stderr, "%d: Unknown datatype.\n", dtype);
  return nullptr;
}

// The kernels take the voxel counts as signed 32-bit integers.
int32_t count(const VolumeMap *vol, int axis) { return static_cast<int32_t>(vol->dim[axis]); }

}  // namespace

extern "C" int32_t resample(int32_t m, const VolumeMap *vol, double *out, const double *x,
                            const double *y, const double *z, int32_t hold, double background) {
  const Entries *unit = find_unit(vol->dtype);
  if (unit == nullptr) return 1;
  unit->resample(m, vol->data, out, x, y, z, count(vol, 0), count(vol, 1), count(vol, 2), hold,
                 background, vol->scale, vol->offset);
  return 0;
}

extern "C" int32_t resample_d(int32_t m, const VolumeMap *vol, double *out, double *gradx,
                              double *grady, double *gradz, const double *x, const double *y,
                              const double *z, int32_t hold, double background) {
  const Entries *unit = find_unit(vol->dtype);
  if (unit == nullptr) return 1;
  unit->resample_d(m, vol->data, out, gradx, grady, gradz, x, y, z, count(vol, 0), count(vol, 1),
                   count(vol, 2), hold, background, vol->scale, vol->offset);
  return 0;
}

extern "C" int32_t slice(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                         const VolumeMap *vol, int32_t hold, double background) {
  const Entries *unit = find_unit(vol->dtype);
  if (unit == nullptr) return 1;
  return unit->slice(mat, image, xdim1, ydim1, vol->data, count(vol, 0), count(vol, 1),
                     count(vol, 2), hold, background, vol->scale, vol->offset);
}

}  // namespace volaccess
