// Cutting 2-D images out of a volume through the library's slice kernels.
#ifndef VOLACCESS_ENGINE_SLICING_H
#define VOLACCESS_ENGINE_SLICING_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "matrix.h"
#include "volume_description.h"
#include "workers.h"

namespace vaeng {

enum class Plane { Axial, Coronal, Sagittal };

// Pixels i fastest: pixel (i, j), from 1, is pixels[(i - 1) + width * (j - 1)].
struct SliceImage {
  std::vector<double> pixels;
  int32_t width = 0;
  int32_t height = 0;
};

// The transform from pixel (i, j, 0, 1) to 1-based voxel coordinates of
// a plane through voxel index `index` (from 1) along the plane's normal:
// axial planes hold x and y at z = index, coronal ones x and z, sagittal
// ones y and z.
Mat4 plane_transform(Plane plane, double index);
// The natural size of such a plane for a volume of `dim` voxels.
std::array<int32_t, 2> plane_size(Plane plane, const uint64_t dim[3]);
// The number of planes along the plane's normal.
uint64_t plane_count(Plane plane, const uint64_t dim[3]);
const char *plane_name(Plane plane);
// The plane of that name (axial, coronal, sagittal), or none.
std::optional<Plane> plane_named(const std::string &name);

// Fills width * height pixels (i fastest) through `transform`, rows shared
// among the workers; the pixels are the library's slice() of the whole
// image, bit for bit, with any number of threads.
void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels, const Workers &workers);
// The same on the calling thread alone.
void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels);
// Fills a width-by-height image through `transform`.
SliceImage cut_slice(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                     double background, const Workers &workers);

// The transform whose one-row image is row j (from 1) of the image of
// `transform`: the slice walk starts row j at (m8 * 0 + m12) + j * m4 (and
// y, z, w alike) and steps along it by the first column, so putting the
// rounded products j * m4 ... j * m7 in the second column starts the
// one-row walk (j = 1, and 1 * p is p) at exactly the same place.
Mat4 row_transform(const Mat4 &transform, int32_t j);

// True for transforms within 1e-9 of the selection of one whole plane at
// the volume's own size, which the library may copy rather than walk; a
// superset of what it copies, so that those images are cut in one call.
bool may_copy_plane(const Mat4 &transform, int32_t width, int32_t height, const VolumeMap &map);

}  // namespace vaeng

#endif
