// Cutting 2-D images out of a volume through the library's slice kernels.
#ifndef VOLACCESS_TOOLS_SLICING_H
#define VOLACCESS_TOOLS_SLICING_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix.h"
#include "volume_description.h"

namespace vacli {

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

// Fills width * height pixels (i fastest) through `transform`.
void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels);
// Fills a width-by-height image through `transform`.
SliceImage cut_slice(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                     double background);

}  // namespace vacli

#endif
