#include "transform_chain.h"

#include <algorithm>
#include <cmath>

#include "errors.h"

namespace vaeng {

namespace {

// A 1-based field coordinate inside [0.5, dim + 0.5) is held within the
// outer voxel centres, so the rim half voxel takes the rim value; outside
// that it is NaN, which the caller reads as no displacement.
double field_coordinate(double c, int64_t dim) {
  if (!(c >= 0.5 && c < static_cast<double>(dim) + 0.5)) return std::nan("");
  return std::min(std::max(c, 1.0), static_cast<double>(dim));
}

}  // namespace

void apply_affine(const Mat4 &m, double *x, double *y, double *z, std::size_t n) {
  for (std::size_t p = 0; p < n; ++p) {
    const double px = x[p], py = y[p], pz = z[p];
    x[p] = ((m[0] * px + m[4] * py) + m[8] * pz) + m[12];
    y[p] = ((m[1] * px + m[5] * py) + m[9] * pz) + m[13];
    z[p] = ((m[2] * px + m[6] * py) + m[10] * pz) + m[14];
  }
}

DisplacementField::DisplacementField(const std::string &path) : image_(NiftiImage::open(path)) {
  for (int c = 0; c < 3; ++c) components_[c] = std::make_unique<VolumeMapping>(image_, c + 1);
  if (!invert(one_based_matrix(image_.header()), &world_to_voxel_))
    fail(path, "the field's voxel-to-world matrix is singular");
  dim_ = image_.header().dim;
}

void DisplacementField::displace(double *x, double *y, double *z, std::size_t n) const {
  std::vector<double> vx(x, x + n), vy(y, y + n), vz(z, z + n);
  apply_affine(world_to_voxel_, vx.data(), vy.data(), vz.data(), n);
  std::vector<bool> inside(n);
  for (std::size_t p = 0; p < n; ++p) {
    vx[p] = field_coordinate(vx[p], dim_[0]);
    vy[p] = field_coordinate(vy[p], dim_[1]);
    vz[p] = field_coordinate(vz[p], dim_[2]);
    inside[p] = !std::isnan(vx[p]) && !std::isnan(vy[p]) && !std::isnan(vz[p]);
  }
  std::vector<double> d[3];
  const auto m = static_cast<int32_t>(n);
  for (int c = 0; c < 3; ++c) {
    d[c].assign(n, 0.0);
    if (resample(m, &components_[c]->map(), d[c].data(), vx.data(), vy.data(), vz.data(), 1, 0.0) != 0)
      fail(image_.name(), "the volume library does not know its datatype");
  }
  // The displacements are stored in LPS, as ITK writes them.
  for (std::size_t p = 0; p < n; ++p) {
    if (!inside[p]) continue;
    x[p] -= d[0][p];
    y[p] -= d[1][p];
    z[p] += d[2][p];
  }
}

TransformChain TransformChain::from_options(const std::vector<TransformOption> &options) {
  TransformChain chain;
  for (auto option = options.rbegin(); option != options.rend(); ++option) {
    std::vector<FileTransform> entries = read_transform_file(option->path);
    chain.names_.insert(chain.names_.begin(), option->path + (option->inverse ? kInverseSuffix : ""));
    // A file's entries apply last first; its inverse applies the inverted
    // entries first first.
    if (!option->inverse) std::reverse(entries.begin(), entries.end());
    for (const FileTransform &e : entries) {
      if (e.kind == FileTransform::Kind::Field) {
        if (option->inverse)
          fail(e.name,
               "a displacement field cannot be inverted here; give the inverse field that the "
               "registration wrote beside it");
        chain.then_field(e.field_path);
        continue;
      }
      Mat4 m = e.ras;
      if (option->inverse && !invert(e.ras, &m)) fail(e.name, "the transform is singular and has no inverse");
      chain.then_affine(m);
    }
  }
  return chain;
}

void DisplacementField::check_unchanged() const {
  for (const auto &component : components_) component->check_unchanged();
}

void TransformChain::check_unchanged() const {
  for (const Step &s : steps_)
    if (s.field) s.field->check_unchanged();
}

void TransformChain::then_affine(const Mat4 &ras) { steps_.push_back(Step{ras, nullptr}); }

void TransformChain::then_field(const std::string &path) {
  steps_.push_back(Step{identity4(), std::make_shared<DisplacementField>(path)});
}

bool TransformChain::linear() const {
  return std::none_of(steps_.begin(), steps_.end(), [](const Step &s) { return s.field != nullptr; });
}

Mat4 TransformChain::composed() const {
  Mat4 m = identity4();
  for (const Step &s : steps_) m = multiply(s.affine, m);
  return m;
}

void TransformChain::map_points(double *x, double *y, double *z, std::size_t n) const {
  for (const Step &s : steps_) {
    if (s.field)
      s.field->displace(x, y, z, n);
    else
      apply_affine(s.affine, x, y, z, n);
  }
}

}  // namespace vaeng
