#include "phantom.h"

#include <cmath>

#include "nifti_header.h"

namespace vacli {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadius = 50;  // millimetres from the centre to the rim of the head

// An ellipsoid in units of kRadius, turned by `degrees` about z, adding
// `value` inside.
struct Ellipsoid {
  double cx, cy, cz, a, b, c, degrees, value;
};

// Head, brain, two ventricles, a central structure and small bright spots.
const Ellipsoid kEllipsoids[] = {
    {0, 0, 0, 0.69, 0.92, 0.81, 0, 100},        {0, -0.0184, 0, 0.6624, 0.874, 0.78, 0, -60},
    {0.22, 0, 0, 0.11, 0.31, 0.22, -18, -20},   {-0.22, 0, 0, 0.16, 0.41, 0.28, 18, -20},
    {0, 0.35, -0.15, 0.21, 0.25, 0.41, 0, 15},  {0, 0.1, 0.25, 0.046, 0.046, 0.05, 0, 30},
    {0, -0.1, 0.25, 0.046, 0.046, 0.05, 0, 30}, {-0.08, -0.605, 0, 0.046, 0.023, 0.05, 0, 30},
    {0, -0.605, 0, 0.023, 0.023, 0.02, 0, 30},  {0.06, -0.605, 0, 0.023, 0.046, 0.02, 0, 30},
};

constexpr int64_t kDim[3] = {80, 84, 56};
constexpr double kVoxel[3] = {1.25, 1.25, 1.6};
constexpr double kTiltDegrees = 8;  // about x, as in an oblique acquisition

Mat4 rotation_x(double degrees) {
  const double r = degrees * kPi / 180, c = std::cos(r), s = std::sin(r);
  return from_rows({1, 0, 0, 0, 0, c, -s, 0, 0, s, c, 0, 0, 0, 0, 1});
}

// 0-based voxel indices to world: scaled, tilted, centred on the origin.
Mat4 phantom_matrix() {
  Mat4 scaling = identity4();
  for (int i = 0; i < 3; ++i) scaling[static_cast<std::size_t>(5 * i)] = kVoxel[i];
  const Mat4 centre = translation4(-(kDim[0] - 1) / 2.0, -(kDim[1] - 1) / 2.0, -(kDim[2] - 1) / 2.0);
  return multiply(rotation_x(kTiltDegrees), multiply(scaling, centre));
}

NiftiGeometry geometry_of(const Mat4 &m) {
  NiftiGeometry g;
  g.sform_code = 1;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) g.srow[static_cast<std::size_t>(4 * r + c)] = at(m, r, c);
  g.pixdim = {kVoxel[0], kVoxel[1], kVoxel[2]};
  g.xyzt_units = 2;  // millimetres
  return g;
}

}  // namespace

double phantom_value(const Vec3 &world) {
  double value = 0;
  for (const Ellipsoid &e : kEllipsoids) {
    const double x = world[0] / kRadius - e.cx, y = world[1] / kRadius - e.cy, z = world[2] / kRadius - e.cz;
    const double r = e.degrees * kPi / 180, c = std::cos(r), s = std::sin(r);
    const double u = (c * x + s * y) / e.a, v = (-s * x + c * y) / e.b, w = z / e.c;
    if (u * u + v * v + w * w <= 1) value += e.value;
  }
  return value;
}

Mat4 rotation_zy(double z_degrees, double y_degrees) {
  const double a = z_degrees * kPi / 180, b = y_degrees * kPi / 180;
  const Mat4 rz = from_rows({std::cos(a), -std::sin(a), 0, 0, std::sin(a), std::cos(a), 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  const Mat4 ry = from_rows({std::cos(b), 0, std::sin(b), 0, 0, 1, 0, 0, -std::sin(b), 0, std::cos(b), 0, 0, 0, 0, 1});
  return multiply(ry, rz);
}

Phantom make_phantom() {
  Phantom p;
  const Mat4 m = phantom_matrix();
  p.layout.dim = {kDim[0], kDim[1], kDim[2]};
  p.layout.datatype = find_nifti_datatype(4);
  p.layout.scale = 0.25;
  p.layout.offset = 10;
  p.layout.geometry = geometry_of(m);
  p.layout.description = "volaccess demo phantom";
  p.values.reserve(static_cast<std::size_t>(kDim[0] * kDim[1] * kDim[2]));
  for (int64_t k = 0; k < kDim[2]; ++k)
    for (int64_t j = 0; j < kDim[1]; ++j)
      for (int64_t i = 0; i < kDim[0]; ++i)
        p.values.push_back(
            phantom_value(apply_point(m, {static_cast<double>(i), static_cast<double>(j), static_cast<double>(k)})));
  return p;
}

}  // namespace vacli
