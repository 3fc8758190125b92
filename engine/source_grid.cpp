#include "source_grid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "calvex/byteorder.h"
#include "errors.h"
#include "sample_pipeline.h"
#include "trilinear_stages.h"
#include "vector_paths.h"
#include "volume.h"
#include "voxel_reader.h"

namespace vaeng {

namespace {

using volaccess::direct;
using volaccess::VoxelReader;

// The float64 encoding in the machine's byte order, which a test grid holds.
constexpr int32_t kNativeDouble = 64;

// The run of voxels a q-node weight builder chooses for one coordinate,
// 0-based and inclusive, cut at the rims.
std::pair<int32_t, int32_t> lookup_run(double c1, int32_t dim, int32_t q) {
  const double x = c1 - 1;
  const double nearest = std::floor(x + 0.5);
  if (std::fabs(x - nearest) < 0.00001) return {static_cast<int32_t>(nearest), static_cast<int32_t>(nearest)};
  const int64_t k0 = q % 2 ? (1 - q) / 2 : (2 - q) / 2;
  const int64_t k1 = q % 2 ? (q - 1) / 2 : q / 2;
  const auto centre = static_cast<int64_t>(q % 2 ? nearest : std::floor(x));
  return {static_cast<int32_t>(std::max<int64_t>(centre + k0, 0)),
          static_cast<int32_t>(std::min<int64_t>(centre + k1, dim - 1))};
}

// The voxel counts of the record as the kernels take them.
volaccess::Volume volume_of(const VolumeMap &map) {
  return volaccess::Volume{map.data,
                           static_cast<int32_t>(map.dim[0]),
                           static_cast<int32_t>(map.dim[1]),
                           static_cast<int32_t>(map.dim[2]),
                           map.scale,
                           map.offset};
}

// The real value of voxel (i, j, k), 0-based, formed as the library's
// nearest-neighbour kernel forms it.
template <class Voxel>
double voxel_at(const volaccess::Volume &vol, int32_t i, int32_t j, int32_t k) {
  return vol.real(Voxel::at(vol.data[k], vol.element(i, j)), k);
}

// The label choice of the plan stage for corners kept as doubles or
// integers.
void label_cells(const volaccess::PlanKernels &k, const volaccess::TrilinearPlan &p,
                 const volaccess::CellCorners<double> &c, int32_t n, double background, double *out) {
  k.label_cells(&p, &c, n, background, out);
}

void label_cells(const volaccess::PlanKernels &k, const volaccess::TrilinearPlan &p,
                 const volaccess::CellCorners<int32_t> &c, int32_t n, double background, double *out) {
  k.label_cells_int(&p, &c, n, background, out);
}

// The label rule as a stage of the library's own sampling loop: its
// trilinear plan (inside test, base voxels, steps and fractions) and its
// gather of each block's eight corners, read in place and prefetched as
// the trilinear kernel reads them; only the finish differs: the plan
// stage's label choice instead of the blend.
template <class Voxel>
class LabelStage : public volaccess::TrilinearCells<Voxel> {
 public:
  using Plan = volaccess::TrilinearPlan;
  using Result = double;
  using volaccess::TrilinearCells<Voxel>::TrilinearCells;

  void finish(const Plan &p, const volaccess::Block &b, const Plan &next, int32_t next_n, Result *results) {
    label_cells(this->plans_, p, this->gather(p, b.n, next, next_n), b.n, this->background_, results);
  }
};

template <class Voxel>
void label_rule(const VolumeMap &map, int32_t n, const double *x, const double *y, const double *z, double background,
                double *out) {
  const volaccess::Volume vol = volume_of(map);
  LabelStage<Voxel> stage(vol, volaccess::plan_kernels(), n, background);
  volaccess::PointSource points(n, x, y, z);
  volaccess::run_blocks(stage, points, [out](std::ptrdiff_t p, double v) { out[p] = v; });
}

// The runs of voxels, per axis, that the kernel of `hold` reads for the
// point; false when the kernel finds the point outside. The inside tests,
// and the voxels of the nearest and trilinear kernels, are the library's
// plan stage's own.
bool touched_runs(const volaccess::Volume &vol, const double c[3], int32_t hold, std::pair<int32_t, int32_t> run[3]) {
  const volaccess::PlanKernels &plans = volaccess::plan_kernels();
  const volaccess::Dims dims{vol.dim0, vol.dim1, vol.dim2};
  if (hold == 0) {
    volaccess::NearestPlan p;
    plans.nearest(&c[0], &c[1], &c[2], 1, dims, &p);
    run[0] = {p.i[0], p.i[0]};
    run[1] = {p.j[0], p.j[0]};
    run[2] = {p.k[0], p.k[0]};
    return p.inside[0] != 0;
  }
  if (hold == 1 || hold == kLabelHold) {
    volaccess::TrilinearPlan p;
    plans.trilinear(&c[0], &c[1], &c[2], 1, dims, &p);
    run[0] = {p.bx[0], p.bx[0] + p.sx[0]};
    run[1] = {p.by[0], p.by[0] + p.sy[0]};
    run[2] = {p.bz[0], p.bz[0] + p.sz[0]};
    return p.inside[0] != 0;
  }
  volaccess::LookupPlan p;
  plans.lookup(&c[0], &c[1], &c[2], 1, dims, &p);
  const int32_t dim[3] = {vol.dim0, vol.dim1, vol.dim2};
  const int32_t q = hold < 0 ? 1 - hold : hold + 1;
  if (!p.inside[0]) return false;
  for (int a = 0; a < 3; ++a) run[a] = lookup_run(c[a], dim[a], q);
  return true;
}

template <class Voxel>
bool touched_rule(const VolumeMap &map, double x, double y, double z, int32_t hold, double *low, double *high) {
  const volaccess::Volume vol = volume_of(map);
  const double c[3] = {x, y, z};
  std::pair<int32_t, int32_t> run[3];
  if (!touched_runs(vol, c, hold, run)) return false;
  double lo = INFINITY, hi = -INFINITY;
  for (int32_t k = run[2].first; k <= run[2].second; ++k)
    for (int32_t j = run[1].first; j <= run[1].second; ++j)
      for (int32_t i = run[0].first; i <= run[0].second; ++i) {
        const double v = voxel_at<Voxel>(vol, i, j, k);
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
      }
  *low = lo;
  *high = hi;
  return true;
}

}  // namespace

struct SourceGrid::Rules {
  int32_t code;
  void (*labels_at)(const VolumeMap &map, int32_t n, const double *x, const double *y, const double *z,
                    double background, double *out);
  bool (*touched_range)(const VolumeMap &map, double x, double y, double z, int32_t hold, double *low, double *high);
};

namespace {

// One entry per voxel encoding of the library, from its one list.
constexpr SourceGrid::Rules kRules[] = {
#define VOLACCESS_TYPE(t, code, element, reader) \
  {(code), label_rule<VoxelReader<element, reader>>, touched_rule<VoxelReader<element, reader>>},
#include "voxel_types.def"
#undef VOLACCESS_TYPE
};

const SourceGrid::Rules *rules_of(int32_t dtype) {
  for (const SourceGrid::Rules &r : kRules)
    if (r.code == dtype) return &r;
  return nullptr;
}

}  // namespace

SourceGrid::SourceGrid(const VolumeMapping &volume) : SourceGrid(&volume.map(), volume.name()) {}

SourceGrid::SourceGrid(const VolumeMap *map, const std::string &name) : map_(map), rules_(rules_of(map->dtype)) {
  if (!rules_) fail(name, "the volume library does not know its datatype");
}

SourceGrid::SourceGrid(std::array<int64_t, 3> dim, std::vector<double> values)
    : map_(&own_.map), rules_(rules_of(kNativeDouble)) {
  own_.values = std::move(values);
  const auto planes = static_cast<std::size_t>(dim[2]);
  const auto plane = static_cast<std::size_t>(dim[0] * dim[1]);
  for (std::size_t k = 0; k < planes; ++k) own_.planes.push_back(own_.values.data() + k * plane);
  own_.scale.assign(planes, 1.0);
  own_.offset.assign(planes, 0.0);
  for (int a = 0; a < 3; ++a) own_.map.dim[a] = static_cast<uint64_t>(dim[static_cast<std::size_t>(a)]);
  own_.map.dtype = kNativeDouble;
  own_.map.data = own_.planes.data();
  own_.map.scale = own_.scale.data();
  own_.map.offset = own_.offset.data();
}

double SourceGrid::label_at(double x, double y, double z, double background) const {
  double label;
  rules_->labels_at(*map_, 1, &x, &y, &z, background, &label);
  return label;
}

void SourceGrid::labels_at(int32_t n, const double *x, const double *y, const double *z, double background,
                           double *out) const {
  rules_->labels_at(*map_, n, x, y, z, background, out);
}

bool SourceGrid::touched_range(double x, double y, double z, int32_t hold, double *low, double *high) const {
  return rules_->touched_range(*map_, x, y, z, hold, low, high);
}

}  // namespace vaeng
