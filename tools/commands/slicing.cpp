#include "slicing.h"

#include "cli_error.h"

namespace vacli {

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

void cut_slice_into(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                    double background, double *pixels) {
  const int32_t status = slice(transform.data(), pixels, width, height, &volume.map(), hold, background);
  if (status == -1) fail(volume.name(), "the slice transform sends a pixel to infinity (its w becomes 0)");
  if (status != 0) fail(volume.name(), "the volume library does not know its datatype");
}

SliceImage cut_slice(const VolumeMapping &volume, const Mat4 &transform, int32_t width, int32_t height, int32_t hold,
                     double background) {
  SliceImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), background);
  cut_slice_into(volume, transform, width, height, hold, background, image.pixels.data());
  return image;
}

}  // namespace vacli
