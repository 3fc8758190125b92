/* The volume access library: map 3-D image volumes described by host
 * values, read-only and in place, and sample them at points, with
 * gradients, and along 2-D slices under a 4x4 transform.
 *
 * Every result is bit-identical on every build: all arithmetic is IEEE
 * double, each product and sum rounded on its own in a fixed order.
 *
 * Every function may be called from several threads at once, on the same
 * or on different volumes (a record is only read while sampling; it must
 * not be released by free_maps while another thread samples it). The
 * state kept between calls (which builder each encoding's lookup kernels
 * use, the builders' caches) is kept per thread: a thread sees the
 * results it would see if it ran alone, and a new thread starts as the
 * process did, with the Lagrange builders. get_maps and free_maps also
 * call the host's allocator, which must then be safe to call from several
 * threads too.
 *
 * volaccess/README.md maps the path of a call through the library.
 *
 * The library installs no signal handler. A mapped file that shrinks
 * while mapped turns later reads into SIGBUS; programs that must survive
 * that handle the signal themselves. */
#ifndef VOLACCESS_H
#define VOLACCESS_H

#include <stdint.h>

#include "calvex/hx.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One mapped volume. */
typedef struct VolumeMap {
  uint64_t dim[3];  /* voxels along x (fastest), y, z (planes); missing ones are 1 */
  double *scale;    /* dim[2] multipliers, one per plane */
  double *offset;   /* dim[2] additive terms, one per plane */
  int32_t dtype;    /* type code of the stored voxels */
  void **data;      /* dim[2] plane addresses; no alignment is required */
  double mat[16];   /* voxel-to-world matrix, column-major, 1-based voxels */
  void *map_addr;   /* read-only mapping of the whole file, or null */
  uint64_t map_len; /* length of that mapping; 0 when there is none */
} VolumeMap;

/* Bits per voxel of a type code; 0 for a code outside the table. */
int get_datasize(int dtype);

/* Voxel sizes in world units: the lengths of the first three columns of
 * the matrix's upper-left 3x3 block. */
void voxdim(const VolumeMap *map, double vox[3]);

/* Builds one record per volume of a host value (a numeric array, or a
 * struct array describing files or carrying voxels in "dat"), maps each
 * file read-only, stores the count in *n and returns the records (owned
 * by the caller until free_maps). On bad input it releases what it holds
 * and raises a host error; it does not return then. */
VolumeMap *get_maps(const hxArray *ptr, int32_t *n);

/* Unmaps and releases records 0..n-1 and then the array. */
void free_maps(VolumeMap *maps, int32_t n);

/* The raw "dt" code of element 1 of a volume struct; raises a host error
 * when the value is not a struct or its "dt" is missing or mis-sized. */
int32_t get_dtype(const hxArray *ptr);

/* Values at m points (1-based voxel coordinates) into out. Returns 0, or
 * 1 after writing "%d: Unknown datatype.\n" to standard error when the
 * record's type code is outside the table (nothing is written then). */
int32_t resample(int32_t m, const VolumeMap *vol, double *out, const double *x, const double *y,
                 const double *z, int32_t hold, double background);

/* Values and their derivatives along x, y, z (per voxel) at m points. */
int32_t resample_d(int32_t m, const VolumeMap *vol, double *out, double *gradx, double *grady,
                   double *gradz, const double *x, const double *y, const double *z, int32_t hold,
                   double background);

/* Fills an xdim1-by-ydim1 image cut through the volume under mat (from
 * image voxel coordinates to volume voxel coordinates, column-major).
 * Returns 0, -1 when a pixel's homogeneous W is exactly zero (that pixel
 * and the rest stay unwritten), or 1 for an unknown type code. */
int32_t slice(const double *mat, double *image, int32_t xdim1, int32_t ydim1, const VolumeMap *vol,
              int32_t hold, double background);

/* Weight builders: one run of weights (and derivative weights) per axis.
 * first receives the 0-based index of the run's first voxel, last the
 * address of its last weight (table - 1 for an empty run). */
void make_lookup_poly(int32_t q, int32_t d, int32_t *first, double *table, double **last, double c);
void make_lookup_sinc(int32_t q, int32_t d, int32_t *first, double *table, double **last, double c);
void make_lookup_poly_grad(int32_t q, int32_t d, int32_t *first, double *table, double *dtable,
                           double **last, double c);
void make_lookup_sinc_grad(int32_t q, int32_t d, int32_t *first, double *table, double *dtable,
                           double **last, double c);

/* The twelve functions of each voxel encoding, named for its suffix t in
 * voxel_types.def (resample_uchar, resample_uchar_0, ...). They take the
 * record's fields as arguments, the voxel counts as 32-bit integers:
 *   resample_t        values at m points, the kernel chosen by the hold code
 *   resample_t_0      nearest-neighbour values
 *   resample_t_1      trilinear values
 *   resample_t_poly   lookup-table values, q nodes per axis (builder: below)
 *   resample_d_t      values and derivatives, the kernel chosen by the code
 *   resample_d_t_1    trilinear values and derivatives
 *   resample_d_t_poly lookup-table values and derivatives (builder: below)
 *   slice_t           a slice, the kernel chosen by the hold code
 *   slice_t_0         a nearest-neighbour slice
 *   slice_t_1         a trilinear slice
 *   slice_t_poly      a lookup-table slice (builder: below)
 *   plane_t           plane k (counted from 1), scaled, in storage order
 * The _poly kernels use the builder, Lagrange or windowed sinc, chosen by
 * the calling thread's last resample_t or slice_t call (resample_d_t for
 * resample_d_t_poly); Lagrange until such a call chose the sinc.
 * VOLACCESS_UNIT_FUNCTIONS(F, t) applies F(return type, name, member of
 * the type unit, parameters, arguments) to each: the declarations below,
 * the type units' exported wrappers and the dispatch table are all made
 * from this one list. */
#define VOLACCESS_UNIT_FUNCTIONS(F, t)                                                            \
  F(void, resample_##t, resample,                                                                 \
    (int32_t m, void **data, double *out, const double *x, const double *y, const double *z,      \
     int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, double background,                   \
     const double *scale, const double *offset),                                                  \
    (m, data, out, x, y, z, dim0, dim1, dim2, hold, background, scale, offset))                   \
  F(void, resample_##t##_0, resample_0,                                                           \
    (int32_t m, void **data, double *out, const double *x, const double *y, const double *z,      \
     int32_t dim0, int32_t dim1, int32_t dim2, double background, const double *scale,            \
     const double *offset),                                                                       \
    (m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset))                         \
  F(void, resample_##t##_1, resample_1,                                                           \
    (int32_t m, void **data, double *out, const double *x, const double *y, const double *z,      \
     int32_t dim0, int32_t dim1, int32_t dim2, double background, const double *scale,            \
     const double *offset),                                                                       \
    (m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset))                         \
  F(void, resample_##t##_poly, resample_poly,                                                     \
    (int32_t m, void **data, double *out, const double *x, const double *y, const double *z,      \
     int32_t dim0, int32_t dim1, int32_t dim2, int32_t q, double background, const double *scale, \
     const double *offset),                                                                       \
    (m, data, out, x, y, z, dim0, dim1, dim2, q, background, scale, offset))                      \
  F(void, resample_d_##t, resample_d,                                                             \
    (int32_t m, void **data, double *out, double *gradx, double *grady, double *gradz,            \
     const double *x, const double *y, const double *z, int32_t dim0, int32_t dim1, int32_t dim2, \
     int32_t hold, double background, const double *scale, const double *offset),                 \
    (m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, hold, background, scale,       \
     offset))                                                                                     \
  F(void, resample_d_##t##_1, resample_d_1,                                                       \
    (int32_t m, void **data, double *out, double *gradx, double *grady, double *gradz,            \
     const double *x, const double *y, const double *z, int32_t dim0, int32_t dim1, int32_t dim2, \
     double background, const double *scale, const double *offset),                               \
    (m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, background, scale, offset))    \
  F(void, resample_d_##t##_poly, resample_d_poly,                                                 \
    (int32_t m, void **data, double *out, double *gradx, double *grady, double *gradz,            \
     const double *x, const double *y, const double *z, int32_t dim0, int32_t dim1, int32_t dim2, \
     int32_t q, double background, const double *scale, const double *offset),                    \
    (m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, q, background, scale, offset)) \
  F(int32_t, slice_##t, slice,                                                                    \
    (const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data, int32_t dim0,   \
     int32_t dim1, int32_t dim2, int32_t hold, double background, const double *scale,            \
     const double *offset),                                                                       \
    (mat, image, xdim1, ydim1, data, dim0, dim1, dim2, hold, background, scale, offset))          \
  F(int32_t, slice_##t##_0, slice_0,                                                              \
    (const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data, int32_t dim0,   \
     int32_t dim1, int32_t dim2, double background, const double *scale, const double *offset),   \
    (mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset))                \
  F(int32_t, slice_##t##_1, slice_1,                                                              \
    (const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data, int32_t dim0,   \
     int32_t dim1, int32_t dim2, double background, const double *scale, const double *offset),   \
    (mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset))                \
  F(int32_t, slice_##t##_poly, slice_poly,                                                        \
    (const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data, int32_t dim0,   \
     int32_t dim1, int32_t dim2, int32_t q, double background, const double *scale,               \
     const double *offset),                                                                       \
    (mat, image, xdim1, ydim1, data, dim0, dim1, dim2, q, background, scale, offset))             \
  F(void, plane_##t, plane,                                                                       \
    (int32_t k, double *image, void **data, int32_t dim0, int32_t dim1, const double *scale,      \
     const double *offset),                                                                       \
    (k, image, data, dim0, dim1, scale, offset))

#define VOLACCESS_DECLARE_FUNCTION(result, name, member, parameters, arguments) \
  result name parameters;
#define VOLACCESS_DECLARE_UNIT(t, code, element, reader) \
  VOLACCESS_UNIT_FUNCTIONS(VOLACCESS_DECLARE_FUNCTION, t)
#define VOLACCESS_TYPE VOLACCESS_DECLARE_UNIT
#include "voxel_types.def"
#undef VOLACCESS_TYPE
#undef VOLACCESS_DECLARE_UNIT
#undef VOLACCESS_DECLARE_FUNCTION

#ifdef __cplusplus
}
#endif

#endif
