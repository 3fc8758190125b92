// One type unit per voxel encoding, instantiated from the one list of
// encodings, with the twelve functions of each exported under their plain
// C names.
#include <cstdint>

#include "calvex/byteorder.h"
#include "type_unit.h"
#include "volaccess.h"
#include "voxel_reader.h"

namespace volaccess {

#define VOLACCESS_TYPE(t, code, element, reader)                                                    \
  using Unit_##t = TypeUnit<VoxelReader<element, reader>>;                                          \
  extern "C" void resample_##t(int32_t m, void **data, double *out, const double *x,              \
                               const double *y, const double *z, int32_t dim0, int32_t dim1,       \
                               int32_t dim2, int32_t hold, double background,                      \
                               const double *scale, const double *offset) {                        \
    Unit_##t::resample(m, data, out, x, y, z, dim0, dim1, dim2, hold, background, scale, offset);   \
  }                                                                                                 \
  extern "C" void resample_##t##_0(int32_t m, void **data, double *out, const double *x,          \
                                   const double *y, const double *z, int32_t dim0, int32_t dim1,   \
                                   int32_t dim2, double background, const double *scale,           \
                                   const double *offset) {                                         \
    Unit_##t::resample_0(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);       \
  }                                                                                                 \
  extern "C" void resample_##t##_1(int32_t m, void **data, double *out, const double *x,          \
                                   const double *y, const double *z, int32_t dim0, int32_t dim1,   \
                                   int32_t dim2, double background, const double *scale,           \
                                   const double *offset) {                                         \
    Unit_##t::resample_1(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);       \
  }                                                                                                 \
  extern "C" void resample_##t##_poly(int32_t m, void **data, double *out, const double *x,       \
                                      const double *y, const double *z, int32_t dim0,              \
                                      int32_t dim1, int32_t dim2, int32_t q, double background,    \
                                      const double *scale, const double *offset) {                 \
    Unit_##t::resample_poly(m, data, out, x, y, z, dim0, dim1, dim2, q, background, scale, offset); \
  }                                                                                                 \
  extern "C" void resample_d_##t(int32_t m, void **data, double *out, double *gradx,              \
                                 double *grady, double *gradz, const double *x, const double *y,   \
                                 const double *z, int32_t dim0, int32_t dim1, int32_t dim2,        \
                                 int32_t hold, double background, const double *scale,            \
                                 const double *offset) {                                           \
    Unit_##t::resample_d(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, hold,        \
                         background, scale, offset);                                                \
  }                                                                                                 \
  extern "C" void resample_d_##t##_1(int32_t m, void **data, double *out, double *gradx,          \
                                     double *grady, double *gradz, const double *x,                \
                                     const double *y, const double *z, int32_t dim0, int32_t dim1, \
                                     int32_t dim2, double background, const double *scale,         \
                                     const double *offset) {                                       \
    Unit_##t::resample_d_1(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2,            \
                           background, scale, offset);                                              \
  }                                                                                                 \
  extern "C" void resample_d_##t##_poly(int32_t m, void **data, double *out, double *gradx,       \
                                        double *grady, double *gradz, const double *x,             \
                                        const double *y, const double *z, int32_t dim0,            \
                                        int32_t dim1, int32_t dim2, int32_t q, double background,  \
                                        const double *scale, const double *offset) {               \
    Unit_##t::resample_d_poly(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, q,      \
                              background, scale, offset);                                           \
  }                                                                                                 \
  extern "C" int32_t slice_##t(const double *mat, double *image, int32_t xdim1, int32_t ydim1,    \
                               void **data, int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, \
                               double background, const double *scale, const double *offset) {    \
    return Unit_##t::slice(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, hold, background,      \
                           scale, offset);                                                          \
  }                                                                                                 \
  extern "C" int32_t slice_##t##_0(const double *mat, double *image, int32_t xdim1, int32_t ydim1, \
                                   void **data, int32_t dim0, int32_t dim1, int32_t dim2,          \
                                   double background, const double *scale, const double *offset) { \
    return Unit_##t::slice_0(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale,   \
                             offset);                                                               \
  }                                                                                                 \
  extern "C" int32_t slice_##t##_1(const double *mat, double *image, int32_t xdim1, int32_t ydim1, \
                                   void **data, int32_t dim0, int32_t dim1, int32_t dim2,          \
                                   double background, const double *scale, const double *offset) { \
    return Unit_##t::slice_1(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale,   \
                             offset);                                                               \
  }                                                                                                 \
  extern "C" int32_t slice_##t##_poly(const double *mat, double *image, int32_t xdim1,            \
                                      int32_t ydim1, void **data, int32_t dim0, int32_t dim1,      \
                                      int32_t dim2, int32_t q, double background,                  \
                                      const double *scale, const double *offset) {                 \
    return Unit_##t::slice_poly(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, q, background,    \
                                scale, offset);                                                     \
  }                                                                                                 \
  extern "C" void plane_##t(int32_t k, double *image, void **data, int32_t dim0, int32_t dim1,    \
                            const double *scale, const double *offset) {                           \
    Unit_##t::plane(k, image, data, dim0, dim1, scale, offset);                                     \
  }
#include "voxel_types.def"
#undef VOLACCESS_TYPE

}  // namespace volaccess
