#include "slicing.h"

#include <algorithm>
#include <cmath>

#include "errors.h"

namespace vaeng {

Mat4 plane_transform(Plane plane, double index) {
  // Columns: where pixel steps along i and j go, then the plane's normal
  // (unused: pixels have third coordinate 0), then the plane's origin.
  switch (plane) {
    case Plane::Axial: return Mat4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, index, 1};
    case Plane::Coronal: return Mat4{1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, index, 0, 1};
    case Plane::Sagittal: return Mat4{0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, index, 0, 0, 1};
  }
  return identity4();
}

std::array<int32_t, 2> plane_size(Plane plane, const uint64_t dim[3]) {
  const auto d = [&](int k) { return static_cast<int32_t>(dim[k]); };
  switch (plane) {
    case Plane::Axial: return {d(0), d(1)};
    case Plane::Coronal: return {d(0), d(2)};
    case Plane::Sagittal: return {d(1), d(2)};
  }
  return {0, 0};
}

uint64_t plane_count(Plane plane, const uint64_t dim[3]) {
  switch (plane) {
    case Plane::Axial: return dim[2];
    case Plane::Coronal: return dim[1];
    case Plane::Sagittal: return dim[0];
  }
  return 0;
}

const char *plane_name(Plane plane) {
  switch (plane) {
    case Plane::Axial: return "axial";
    case Plane::Coronal: return "coronal";
    case Plane::Sagittal: return "sagittal";
  }
  return "";
}

std::optional<Plane> plane_named(const std::string &name) {
  for (Plane plane : {Plane::Axial, Plane::Coronal, Plane::Sagittal})
    if (name == plane_name(plane)) return plane;
  return std::nullopt;
}

Mat4 row_transform(const Mat4 &transform, int32_t j) {
  Mat4 row = transform;
  for (int r = 4; r < 8; ++r) row[r] = static_cast<double>(j) * transform[r];
  return row;
}

bool may_copy_plane(const Mat4 &transform, int32_t width, int32_t height, const VolumeMap &map) {
  if (static_cast<uint64_t>(width) != map.dim[0] || static_cast<uint64_t>(height) != map.dim[1]) return false;
  const Mat4 plane = identity4();
  for (int e = 0; e < 16; ++e) {
    if (e == 14) continue;
    if (!(std::fabs(transform[e] - plane[e]) < 1e-9)) return false;
  }
  return true;
}

void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels) {
  const int32_t status = slice(transform.data(), pixels, width, height, &volume.map(), hold, background);
  if (status == -1) fail(volume.name(), "the slice transform sends a pixel to infinity (its w becomes 0)");
  if (status != 0) fail(volume.name(), "the volume library does not know its datatype");
}

void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels, const Workers &workers) {
  if (workers.threads() == 1 || height < 2 || may_copy_plane(transform, width, height, volume.map())) {
    cut_slice_into(volume, transform, width, height, hold, background, pixels);
    volume.check_unchanged();
    return;
  }
  // Pieces of a few rows keep the threads busy to the end without
  // slicing one row at a time per task.
  const int64_t grain = std::max<int64_t>(1, height / (8 * workers.threads()));
  workers.for_each(height, grain, [&](int64_t first, int64_t end) {
    for (int64_t r = first; r < end; ++r) {
      const Mat4 row = row_transform(transform, static_cast<int32_t>(r + 1));
      double *row_pixels = pixels + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
      cut_slice_into(volume, row, width, 1, hold, background, row_pixels);
    }
  });
  volume.check_unchanged();
}

SliceImage cut_slice(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                     double background, const Workers &workers) {
  SliceImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), background);
  cut_slice_into(volume, transform, width, height, hold, background, image.pixels.data(), workers);
  return image;
}

}  // namespace vaeng
