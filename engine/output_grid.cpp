#include "output_grid.h"

#include <cmath>
#include <limits>
#include <string>

#include <nifti2_io.h>

#include "errors.h"

namespace vaeng {

namespace {

double column_length(const Mat4 &m, int c) {
  return std::sqrt(at(m, 0, c) * at(m, 0, c) + at(m, 1, c) * at(m, 1, c) + at(m, 2, c) * at(m, 2, c));
}

// Voxels needed to cover `extent` millimetres, forgiving the last few
// bits of rounding so that 256 voxels of 1 mm make 128 of 2 mm.
int64_t covering_count(double extent, double size, const std::string &size_argument) {
  const double n = std::ceil(extent / size * (1 - 1e-9));
  if (!(n <= static_cast<double>(std::numeric_limits<int32_t>::max())))
    throw ArgumentError(size_argument + " " + std::to_string(size) + " would make more than 2^31 voxels along an axis");
  return std::max<int64_t>(1, static_cast<int64_t>(n));
}

void check_plane_size(const std::array<int64_t, 3> &dim) {
  for (int64_t d : dim)
    if (d < 1 || d > std::numeric_limits<int32_t>::max())
      throw ArgumentError("the output grid needs 1 to 2^31 - 1 voxels along each axis");
  if (dim[0] > std::numeric_limits<int32_t>::max() / dim[1])
    throw ArgumentError("the output grid of " + std::to_string(dim[0]) + "x" + std::to_string(dim[1]) + "x" +
                        std::to_string(dim[2]) + " voxels would hold more than 2^31 - 1 voxels a plane");
}

}  // namespace

NiftiHeader grid_from_source(const NiftiHeader &source, const std::string &name, const Vec3 &voxel_size,
                             const std::optional<std::array<int64_t, 3>> &shape, const std::string &size_argument) {
  const Mat4 &a = source.voxel_to_world;
  NiftiHeader grid;
  grid.version = source.version;
  // The centre of the field of view, and each axis as a unit vector.
  const Vec3 centre =
      apply_point(a, Vec3{(static_cast<double>(source.dim[0]) - 1) / 2, (static_cast<double>(source.dim[1]) - 1) / 2,
                          (static_cast<double>(source.dim[2]) - 1) / 2});
  Mat4 b = identity4();
  for (int c = 0; c < 3; ++c) {
    const auto uc = static_cast<std::size_t>(c);
    const double length = column_length(a, c);
    if (!(length > 0)) fail(name, "its voxel-to-world matrix has a zero column");
    grid.dim[uc] = shape ? (*shape)[uc]
                         : covering_count(static_cast<double>(source.dim[uc]) * length, voxel_size[uc], size_argument);
    for (int r = 0; r < 3; ++r) b[static_cast<std::size_t>(4 * c + r)] = at(a, r, c) / length * voxel_size[uc];
  }
  check_plane_size(grid.dim);
  for (int r = 0; r < 3; ++r) {
    double corner = centre[static_cast<std::size_t>(r)];
    for (int c = 0; c < 3; ++c)
      corner -= at(b, r, c) * (static_cast<double>(grid.dim[static_cast<std::size_t>(c)]) - 1) / 2;
    b[static_cast<std::size_t>(12 + r)] = corner;
  }
  // NIfTI-1 keeps these as floats: sample through what the file will say.
  if (grid.version == 1)
    for (double &e : b) e = static_cast<double>(static_cast<float>(e));

  NiftiGeometry &g = grid.geometry;
  const int code = source.geometry.sform_code > 0   ? source.geometry.sform_code
                   : source.geometry.qform_code > 0 ? source.geometry.qform_code
                                                    : 2;
  g.sform_code = code;
  g.qform_code = code;
  g.xyzt_units = source.geometry.xyzt_units;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) g.srow[static_cast<std::size_t>(4 * r + c)] = at(b, r, c);
  nifti_dmat44 m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.m[r][c] = at(b, r, c);
  double dx = 0, dy = 0, dz = 0;
  nifti_dmat44_to_quatern(m, &g.quatern[0], &g.quatern[1], &g.quatern[2], &g.qoffset[0], &g.qoffset[1], &g.qoffset[2],
                          &dx, &dy, &dz, &g.qfac);
  g.pixdim = voxel_size;
  grid.voxel_to_world = b;
  grid.matrix_source = "sform";
  return grid;
}

}  // namespace vaeng
