// Where the pixels of a named plane (axial, coronal, sagittal) fall in the
// volume: through the voxel grid, or in world orientation through the 4x4
// voxel-to-world matrix, at the plane's own pixel size or zoomed to fit a
// requested picture size.
#ifndef VOLACCESS_ENGINE_PLANE_VIEW_H
#define VOLACCESS_ENGINE_PLANE_VIEW_H

#include <array>
#include <cstdint>
#include <optional>

#include "matrix.h"
#include "picture.h"
#include "slicing.h"

namespace vaeng {

struct PlaneRequest {
  Plane plane = Plane::Axial;
  // Along the plane's normal: a 1-based voxel index (fractions allowed),
  // or with `world` a world coordinate in mm; none for the middle.
  std::optional<double> position;
  // Axial planes hold world x and y, coronal x and z, sagittal y and z,
  // with square pixels of the smallest voxel size, over the image's extent.
  bool world = false;
  // The picture's size; the plane is zoomed to fit it, centred.
  std::optional<std::array<int32_t, 2>> size;
};

struct PlaneView {
  Mat4 transform{};  // pixel (i, j, 0, 1) to 1-based voxel coordinates
  int32_t width = 0;
  int32_t height = 0;
};

// The world box (mm) around the eight outer corners of the voxel grid:
// where world planes are cut from. `voxel_to_world` takes 1-based voxel
// coordinates.
struct WorldBounds {
  Vec3 low{}, high{};
};
WorldBounds world_bounds(const uint64_t dim[3], const Mat4 &voxel_to_world);

// `voxel_to_world` takes 1-based voxel coordinates. A position beyond the
// image is a ArgumentError.
PlaneView plane_view(const PlaneRequest &request, const uint64_t dim[3], const Mat4 &voxel_to_world);

// The anatomical letters (R/L, A/P, S/I) at the edges of a picture whose
// pixels map to voxels through `pixel_to_voxel`: each picture axis gets
// the world axis it runs most along.
EdgeLetters edge_letters(const Mat4 &voxel_to_world, const Mat4 &pixel_to_voxel);

}  // namespace vaeng

#endif
