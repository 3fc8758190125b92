#include "source_grid.h"

#include <cmath>
#include <utility>

#include "errors.h"

namespace vaeng {

namespace {

// Along one axis, the two voxels the trilinear kernel weighs and the
// weight of the second, by the kernel's own rule: base clamped to the
// volume, a step of 0 at the rims, the fraction from the unclamped floor.
struct LinearAxis {
  int64_t base;
  int64_t step;
  double t;
};

bool linear_axis(double c1, int64_t dim, LinearAxis *a) {
  const double c = c1 - 1;
  if (!(c >= -0.05 && c < (static_cast<double>(dim) + 0.05) - 1.0)) return false;
  const auto f = static_cast<int64_t>(std::floor(c));
  a->base = f < 0 ? 0 : (f > dim - 1 ? dim - 1 : f);
  a->step = (f >= 0 && f < dim - 1) ? 1 : 0;
  a->t = c - static_cast<double>(f);
  return true;
}

// The run of voxels a q-node weight builder chooses for one coordinate,
// 0-based and inclusive, cut at the rims.
std::pair<int64_t, int64_t> lookup_run(double c1, int64_t dim, int32_t q) {
  const double x = c1 - 1;
  const double nearest = std::floor(x + 0.5);
  if (std::fabs(x - nearest) < 0.00001) return {static_cast<int64_t>(nearest), static_cast<int64_t>(nearest)};
  const int64_t k0 = q % 2 ? (1 - q) / 2 : (2 - q) / 2;
  const int64_t k1 = q % 2 ? (q - 1) / 2 : q / 2;
  const auto centre = static_cast<int64_t>(q % 2 ? nearest : std::floor(x));
  return {std::max<int64_t>(centre + k0, 0), std::min<int64_t>(centre + k1, dim - 1)};
}

bool lookup_inside(double c1, int64_t dim) { return c1 >= 0.95 && c1 <= static_cast<double>(dim) + 0.05; }

}  // namespace

SourceGrid::SourceGrid(const VolumeMapping &volume) {
  const VolumeMap &map = volume.map();
  for (int a = 0; a < 3; ++a) dim_[a] = static_cast<int64_t>(map.dim[a]);
  const int64_t plane = dim_[0] * dim_[1];
  values_.resize(static_cast<std::size_t>(plane * dim_[2]));
  std::vector<double> x(static_cast<std::size_t>(plane)), y(x.size()), z(x.size());
  for (int64_t j = 0; j < dim_[1]; ++j)
    for (int64_t i = 0; i < dim_[0]; ++i) {
      x[static_cast<std::size_t>(j * dim_[0] + i)] = static_cast<double>(i + 1);
      y[static_cast<std::size_t>(j * dim_[0] + i)] = static_cast<double>(j + 1);
    }
  for (int64_t k = 0; k < dim_[2]; ++k) {
    std::fill(z.begin(), z.end(), static_cast<double>(k + 1));
    if (resample(static_cast<int32_t>(plane), &map, values_.data() + k * plane, x.data(), y.data(), z.data(), 0, 0.0) !=
        0)
      fail(volume.name(), "the volume library does not know its datatype");
  }
}

SourceGrid::SourceGrid(std::array<int64_t, 3> dim, std::vector<double> values)
    : dim_(dim), values_(std::move(values)) {}

double SourceGrid::label_at(double x, double y, double z, double background) const {
  LinearAxis ax, ay, az;
  if (!linear_axis(z, dim_[2], &az) || !linear_axis(y, dim_[1], &ay) || !linear_axis(x, dim_[0], &ax))
    return background;
  double labels[8];
  double weights[8];
  int count = 0;
  for (int corner = 0; corner < 8; ++corner) {
    const int bx = corner & 1, by = (corner >> 1) & 1, bz = corner >> 2;
    const double w = (bx ? ax.t : 1 - ax.t) * (by ? ay.t : 1 - ay.t) * (bz ? az.t : 1 - az.t);
    const double label = at(ax.base + bx * ax.step, ay.base + by * ay.step, az.base + bz * az.step);
    int slot = 0;
    while (slot < count && labels[slot] != label) ++slot;
    if (slot == count) {
      labels[count] = label;
      weights[count++] = 0;
    }
    weights[slot] += w;
  }
  int best = 0;
  for (int s = 1; s < count; ++s)
    if (weights[s] > weights[best] || (weights[s] == weights[best] && labels[s] < labels[best])) best = s;
  return labels[best];
}

bool SourceGrid::touched_range(double x, double y, double z, int32_t hold, double *low, double *high) const {
  std::pair<int64_t, int64_t> run[3];
  const double c[3] = {x, y, z};
  if (hold == 0) {
    for (int a = 0; a < 3; ++a) {
      const double i = std::floor(c[a] - 0.5);
      if (!(i >= 0 && i < static_cast<double>(dim_[a]))) return false;
      run[a] = {static_cast<int64_t>(i), static_cast<int64_t>(i)};
    }
  } else if (hold == 1 || hold == kLabelHold) {
    for (int a = 0; a < 3; ++a) {
      LinearAxis l;
      if (!linear_axis(c[a], dim_[a], &l)) return false;
      run[a] = {l.base, l.base + l.step};
    }
  } else {
    const int32_t q = hold < 0 ? 1 - hold : hold + 1;
    for (int a = 0; a < 3; ++a) {
      if (!lookup_inside(c[a], dim_[a])) return false;
      run[a] = lookup_run(c[a], dim_[a], q);
    }
  }
  double lo = INFINITY, hi = -INFINITY;
  for (int64_t k = run[2].first; k <= run[2].second; ++k)
    for (int64_t j = run[1].first; j <= run[1].second; ++j)
      for (int64_t i = run[0].first; i <= run[0].second; ++i) {
        lo = std::fmin(lo, at(i, j, k));
        hi = std::fmax(hi, at(i, j, k));
      }
  *low = lo;
  *high = hi;
  return true;
}

}  // namespace vaeng
