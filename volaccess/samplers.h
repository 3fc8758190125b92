// Value samplers shared by the point and slice kernels: one sample by
// nearest neighbour, trilinear interpolation or separable lookup-table
// weights, each as a stage of the block loop (sample_pipeline.h) whose
// plan comes from cell_plan.h. Every product and sum is formed in the
// order written; the results are part of the library's contract.
#ifndef VOLACCESS_SAMPLERS_H
#define VOLACCESS_SAMPLERS_H

#include <cstdint>
#include <cstring>

#include "cell_plan.h"
#include "lookup_cache.h"
#include "sample_pipeline.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

// The kernels' weight tables hold this many weights per axis, so a run
// holds at most this many nodes.
constexpr int32_t kTableSize = 255;

using LookupBuilder = void (*)(int32_t, int32_t, int32_t *, double *, double **, double);
using LookupGradBuilder = void (*)(int32_t, int32_t, int32_t *, double *, double *, double **,
                                   double);

struct WeightTables {
  double tablex[kTableSize];
  double tabley[kTableSize];
  double tablez[kTableSize];
};

// One axis's run: weights w[0..n-1] for voxels first..first+n-1.
struct AxisRun {
  int32_t first;
  int32_t n;
  const double *w;
};

inline AxisRun build_run(LookupBuilder build, int32_t q, int32_t dim, double *table, double c) {
  int32_t first = 0;
  double *last = nullptr;
  build(q, dim, &first, table, &last, c);
  return AxisRun{first, run_length(table, last), table};
}

// The bit pattern of a coordinate: runs are reused only for a coordinate
// that repeats exactly (so 0.0 and -0.0 count as different).
inline uint64_t coordinate_bits(double c) {
  uint64_t bits;
  std::memcpy(&bits, &c, sizeof bits);
  return bits;
}

// The last run built along one axis during one kernel call. A builder
// given the same node count, voxel count and coordinate writes the same
// weights and leaves its cache as it was, so a repeated coordinate (along
// the rows of a grid, say) reuses the run instead of building it again.
template <class Run>
class RunMemo {
 public:
  template <class BuildRun>
  const Run &get(double c, BuildRun build_run_for) {
    const uint64_t bits = coordinate_bits(c);
    if (!valid_ || bits != bits_) {
      run_ = build_run_for(c);
      bits_ = bits;
      valid_ = true;
    }
    return run_;
  }

 private:
  bool valid_ = false;
  uint64_t bits_ = 0;
  Run run_{};
};

inline Dims dims_of(const Volume &vol) { return Dims{vol.dim0, vol.dim1, vol.dim2}; }

// A hint to fetch the cache line of element e of plane k.
template <class Voxel>
void prefetch_voxel(const Volume &vol, int32_t k, std::ptrdiff_t e) {
  const auto *plane = static_cast<const unsigned char *>(vol.data[k]);
  __builtin_prefetch(plane + e * static_cast<std::ptrdiff_t>(sizeof(typename Voxel::element_type)));
}

// The corners of cell s, converted, into slot s of c: plane k0 before
// k1, each in the order e00, e10, e01, e11. Outside the volume nothing is
// read and the slot holds zeros, which the blend then replaces.
template <class Voxel>
void gather_cell(const Volume &vol, const TrilinearPlan &p, int32_t s, CellCorners &c) {
  if (!p.inside[s]) {
    for (auto &corner : c.v) corner[s] = 0.0;
    c.scale0[s] = c.offset0[s] = c.scale1[s] = c.offset1[s] = 0.0;
    return;
  }
  const int32_t k0 = p.bz[s];
  const int32_t k1 = k0 + p.sz[s];
  const std::ptrdiff_t e00 = vol.element(p.bx[s], p.by[s]);
  const std::ptrdiff_t e10 = e00 + p.sx[s];
  const std::ptrdiff_t e01 = e00 + static_cast<std::ptrdiff_t>(vol.dim0) * p.sy[s];
  const std::ptrdiff_t e11 = e01 + p.sx[s];
  int corner = 0;
  for (const int32_t k : {k0, k1}) {
    const void *plane = vol.data[k];
    for (const std::ptrdiff_t e : {e00, e10, e01, e11}) c.v[corner++][s] = Voxel::at(plane, e);
  }
  c.scale0[s] = vol.scale[k0];
  c.offset0[s] = vol.offset[k0];
  c.scale1[s] = vol.scale[k1];
  c.offset1[s] = vol.offset[k1];
}

// The corners of a planned trilinear cell, prefetched: the first corner of
// the lower row and the last of the upper row in each plane. The other two
// share a cache line with these unless a row pair straddles a line end.
template <class Voxel>
void prefetch_cell(const Volume &vol, const TrilinearPlan &p, int32_t s) {
  const std::ptrdiff_t e00 = vol.element(p.bx[s], p.by[s]);
  const std::ptrdiff_t e11 = e00 + static_cast<std::ptrdiff_t>(vol.dim0) * p.sy[s] + p.sx[s];
  prefetch_voxel<Voxel>(vol, p.bz[s], e00);
  prefetch_voxel<Voxel>(vol, p.bz[s], e11);
  prefetch_voxel<Voxel>(vol, p.bz[s] + p.sz[s], e00);
  prefetch_voxel<Voxel>(vol, p.bz[s] + p.sz[s], e11);
}

// The real value of the voxel whose centre is nearest, halves going
// upward: 0.5 <= c < dim + 0.5 is inside on every axis.
template <class Voxel>
class NearestStage {
 public:
  using Plan = NearestPlan;
  using Result = double;
  NearestStage(const Volume &vol, const PlanKernels &plans, double background)
      : vol_(vol), plans_(plans), background_(background) {}

  void plan(const Block &b, Plan &p) const { plans_.nearest(b.x, b.y, b.z, b.n, dims_of(vol_), &p); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.inside[s]) prefetch_voxel<Voxel>(vol_, p.k[s], vol_.element(p.i[s], p.j[s]));
  }

  double sample(const Plan &p, const Block & /*b*/, int32_t s) const {
    if (!p.inside[s]) return background_;
    return vol_.real(Voxel::at(vol_.data[p.k[s]], vol_.element(p.i[s], p.j[s])), p.k[s]);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  const Volume &vol_;
  const PlanKernels &plans_;
  double background_;
};

// Trilinear interpolation within 0.05 voxel beyond the outer voxel
// centres, the upper end open (TrilinearPlan).
template <class Voxel>
class TrilinearStage {
 public:
  using Plan = TrilinearPlan;
  using Result = double;
  TrilinearStage(const Volume &vol, const PlanKernels &plans, double background)
      : vol_(vol), plans_(plans), background_(background) {}

  void plan(const Block &b, Plan &p) const { plans_.trilinear(b.x, b.y, b.z, b.n, dims_of(vol_), &p); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.inside[s]) prefetch_cell<Voxel>(vol_, p, s);
  }

  // The corners of the whole block are gathered one sample at a time,
  // then blended across samples in vector registers.
  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) const {
    CellCorners corners;
    for (int32_t s = 0; s < b.n; ++s) {
      if (s < next_n) prefetch(next, s);
      gather_cell<Voxel>(vol_, p, s, corners);
    }
    plans_.blend_trilinear(&p, &corners, b.n, background_, results);
  }

 private:
  const Volume &vol_;
  const PlanKernels &plans_;
  double background_;
};

// Row sums first, then plane sums, then the scaled planes weighted along
// z; every accumulator starts at 0 and every run is walked upward. The
// weights are used as the builder left them, never normalised here.
template <class Voxel>
double lookup_sum(const Volume &vol, const AxisRun &rx, const AxisRun &ry, const AxisRun &rz) {
  double out = 0.0;
  for (int32_t c = 0; c < rz.n; ++c) {
    const int32_t k = rz.first + c;
    const void *plane = vol.data[k];
    double s = 0.0;
    for (int32_t b = 0; b < ry.n; ++b) {
      const std::ptrdiff_t row = vol.element(rx.first, ry.first + b);
      double r = 0.0;
      for (int32_t a = 0; a < rx.n; ++a) r += Voxel::at(plane, row + a) * rx.w[a];
      s += r * ry.w[b];
    }
    out += (s * vol.scale[k] + vol.offset[k]) * rz.w[c];
  }
  return out;
}

// The voxels near the start of a sample's runs, up to four per axis: the
// first and the last voxel of each row.
template <class Voxel>
void prefetch_runs(const Volume &vol, const LookupPlan &p, int32_t s, int32_t q) {
  const int32_t span = q < 4 ? q : 4;
  const int32_t x_end = std::min(p.ix[s] + span - 1, vol.dim0 - 1);
  for (int32_t c = 0; c < span; ++c) {
    const int32_t k = std::min(p.iz[s] + c, vol.dim2 - 1);
    for (int32_t b = 0; b < span; ++b) {
      const int32_t row = std::min(p.iy[s] + b, vol.dim1 - 1);
      prefetch_voxel<Voxel>(vol, k, vol.element(p.ix[s], row));
      prefetch_voxel<Voxel>(vol, k, vol.element(x_end, row));
    }
  }
}

// Separable interpolation with q weights per axis from the builder, the
// runs built for x, then y, then z: 0.95 <= c <= dim + 0.05 is inside.
template <class Voxel>
class LookupStage {
 public:
  using Plan = LookupPlan;
  using Result = double;
  LookupStage(const Volume &vol, const PlanKernels &plans, LookupBuilder build, int32_t q,
              WeightTables &tables, double background)
      : vol_(vol), plans_(plans), build_(build), q_(q), tables_(tables), background_(background) {}

  void plan(const Block &b, Plan &p) const { plans_.lookup(b.x, b.y, b.z, b.n, dims_of(vol_), &p); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.inside[s]) prefetch_runs<Voxel>(vol_, p, s, q_);
  }

  double sample(const Plan &p, const Block &b, int32_t s) {
    if (!p.inside[s]) return background_;
    const AxisRun &rx = x_.get(b.x[s], [this](double c) {
      return build_run(build_, q_, vol_.dim0, tables_.tablex, c);
    });
    const AxisRun &ry = y_.get(b.y[s], [this](double c) {
      return build_run(build_, q_, vol_.dim1, tables_.tabley, c);
    });
    const AxisRun &rz = z_.get(b.z[s], [this](double c) {
      return build_run(build_, q_, vol_.dim2, tables_.tablez, c);
    });
    return lookup_sum<Voxel>(vol_, rx, ry, rz);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  const Volume &vol_;
  const PlanKernels &plans_;
  LookupBuilder build_;
  int32_t q_;
  WeightTables &tables_;
  double background_;
  RunMemo<AxisRun> x_;
  RunMemo<AxisRun> y_;
  RunMemo<AxisRun> z_;
};

// The scaled copy of one plane of count elements, in storage order.
template <class Voxel>
void copy_plane(double *image, const void *plane, std::ptrdiff_t count, double scale, double offset) {
  for (std::ptrdiff_t e = 0; e < count; ++e) image[e] = Voxel::at(plane, e) * scale + offset;
}

}  // namespace volaccess

#endif
