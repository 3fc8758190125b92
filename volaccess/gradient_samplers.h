// Samplers of a value together with its derivatives along x, y and z, in
// real value per voxel. The order of every product and sum is part of the
// contract; the trilinear one differs from the value-only trilinear order,
// so the two may differ in the last bits.
#ifndef VOLACCESS_GRADIENT_SAMPLERS_H
#define VOLACCESS_GRADIENT_SAMPLERS_H

#include <algorithm>
#include <cstdint>
#include <memory>

#include "samplers.h"

namespace volaccess {

struct GradientTables {
  double tablex[kTableSize];
  double tabley[kTableSize];
  double tablez[kTableSize];
  double dtablex[kTableSize];
  double dtabley[kTableSize];
  double dtablez[kTableSize];
};

struct Gradient {
  double value;
  double dx;
  double dy;
  double dz;
};

// A run of weights w and derivative weights dw.
struct GradientRun {
  int32_t first;
  int32_t n;
  const double *w;
  const double *dw;
};

inline GradientRun build_gradient_run(LookupGradBuilder build, int32_t q, int32_t dim,
                                      double *table, double *dtable, double c) {
  int32_t first = 0;
  double *last = nullptr;
  build(q, dim, &first, table, dtable, &last, c);
  return GradientRun{first, run_length(table, last), table, dtable};
}

// The gradient blend of the plan stage for corners kept as doubles or
// integers.
inline void blend_gradients(const PlanKernels &k, const TrilinearPlan &p, const CellCorners<double> &c,
                            int32_t n, double background, double *value,
                            double *dx, double *dy, double *dz) {
  k.blend_trilinear_gradient(&p, &c, n, background, value, dx, dy, dz);
}

inline void blend_gradients(const PlanKernels &k, const TrilinearPlan &p, const CellCorners<int32_t> &c,
                            int32_t n, double background, double *value,
                            double *dx, double *dy, double *dz) {
  k.blend_trilinear_gradient_int(&p, &c, n, background, value, dx, dy, dz);
}

// The plan stage's gradient sum of stencils kept as doubles or integers.
inline void sum_gradient_stencils(const PlanKernels &k, const GradientStencils<double> &st, int32_t n,
                                  double *value, double *dx, double *dy, double *dz) {
  k.sum_gradient_stencils(&st, n, value, dx, dy, dz);
}

inline void sum_gradient_stencils(const PlanKernels &k, const GradientStencils<int32_t> &st,
                                  int32_t n, double *value, double *dx, double *dy, double *dz) {
  k.sum_gradient_stencils_int(&st, n, value, dx, dy, dz);
}

// The trilinear value and its derivatives; outside, the background with
// zero derivatives. Planned and gathered as in TrilinearStage.
template <class Voxel>
class TrilinearGradientStage : public TrilinearCells<Voxel> {
 public:
  using Plan = TrilinearPlan;
  using Result = Gradient;
  using TrilinearCells<Voxel>::TrilinearCells;

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    const CellCorners<CornerValue<Voxel>> &corners = this->gather(p, b.n, next, next_n);
    double value[kBlock], dx[kBlock], dy[kBlock], dz[kBlock];
    blend_gradients(this->plans_, p, corners, b.n, this->background_, value, dx, dy, dz);
    for (int32_t s = 0; s < b.n; ++s) results[s] = Gradient{value[s], dx[s], dy[s], dz[s]};
  }
};

// One pass over the voxels: each row is summed with the x weights and the
// x derivative weights together, and the y and z sums reuse those row
// sums. The offset enters only the value and the derivative along z.
template <class Voxel>
Gradient lookup_gradient_sum(const Volume &vol, const GradientRun &rx, const GradientRun &ry,
                             const GradientRun &rz) {
  Gradient g{0.0, 0.0, 0.0, 0.0};
  for (int32_t c = 0; c < rz.n; ++c) {
    const int32_t k = rz.first + c;
    const void *plane = vol.data[k];
    double s = 0.0;
    double gx = 0.0;
    double gy = 0.0;
    for (int32_t b = 0; b < ry.n; ++b) {
      const std::ptrdiff_t row = vol.element(rx.first, ry.first + b);
      double rw = 0.0;
      double rd = 0.0;
      for (int32_t a = 0; a < rx.n; ++a) {
        const double v = Voxel::at(plane, row + a);
        rw += v * rx.w[a];
        rd += v * rx.dw[a];
      }
      s += ry.w[b] * rw;
      gx += ry.w[b] * rd;
      gy += ry.dw[b] * rw;
    }
    const double p = s * vol.scale[k] + vol.offset[k];
    g.value += rz.w[c] * p;
    g.dx += gx * vol.scale[k] * rz.w[c];
    g.dy += gy * vol.scale[k] * rz.w[c];
    g.dz += p * rz.dw[c];
  }
  return g;
}

// The memo's run with its weights and derivative weights copied into
// slot, one array of width weights after the other (see copy_run).
inline GradientRun copy_gradient_run(const GradientRun &run, double *slot, int32_t width) {
  std::copy(run.w, run.w + run.n, slot);
  std::copy(run.dw, run.dw + run.n, slot + width);
  return GradientRun{run.first, run.n, slot, slot + width};
}

// The lookup-table value and its derivatives, the runs built for x, then
// y, then z; outside, the background with zero derivatives. As in
// LookupStage, a block's runs are built when it is planned.
template <class Voxel>
class LookupGradientStage {
 public:
  using Plan = PlannedRuns<GradientRun>;
  using Result = Gradient;
  LookupGradientStage(const Volume &vol, const PlanKernels &plans, LookupGradBuilder build, int32_t q,
                      int64_t samples, double background)
      : vol_(vol), plans_(plans), build_(build), q_(q), background_(background),
        weights_(run_capacity(q, vol), 2, block_slots(samples)) {}

  void plan(const Block &b, Plan &p) {
    plans_.lookup(b.x, b.y, b.z, b.n, dims_of(vol_), &p.cells);
    p.cells.prefetch = b.prefetch;
    weights_.next_block();
    for (int32_t s = 0; s < b.n; ++s) {
      if (!p.cells.inside[s]) continue;
      p.x[s] = copy_gradient_run(x_.get(b.x[s], [this](double c) {
        return build_gradient_run(build_, q_, vol_.dim0, tables_.tablex, tables_.dtablex, c);
      }), weights_.slot(0, s), weights_.width());
      p.y[s] = copy_gradient_run(y_.get(b.y[s], [this](double c) {
        return build_gradient_run(build_, q_, vol_.dim1, tables_.tabley, tables_.dtabley, c);
      }), weights_.slot(1, s), weights_.width());
      p.z[s] = copy_gradient_run(z_.get(b.z[s], [this](double c) {
        return build_gradient_run(build_, q_, vol_.dim2, tables_.tablez, tables_.dtablez, c);
      }), weights_.slot(2, s), weights_.width());
    }
  }

  int32_t ahead() const { return stencil_ahead(q_); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.cells.prefetch && p.cells.inside[s]) prefetch_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  Gradient sample(const Plan &p, const Block & /*b*/, int32_t s) const {
    if (!p.cells.inside[s]) return Gradient{background_, 0.0, 0.0, 0.0};
    return lookup_gradient_sum<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    if (q_ == kStencilSide) return finish_stencils(p, b, next, next_n, results);
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  // As in LookupStage: full four-node stencils are summed across the
  // block, the other samples one by one.
  void finish_stencils(const Plan &p, const Block &b, const Plan &next, int32_t next_n,
                       Result *results) {
    GradientStencils<CornerValue<Voxel>> &stencils = stencils_;
    int32_t lane_sample[kBlock];
    const int32_t lanes = fill_stencil_lanes(*this, p, b, next, next_n, results, lane_sample,
                                             [&](int32_t s, int32_t lane) {
      gather_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s], lane, stencils);
      for (int32_t e = 0; e < kStencilSide; ++e) {
        stencils.dwx[e][lane] = p.x[s].dw[e];
        stencils.dwy[e][lane] = p.y[s].dw[e];
        stencils.dwz[e][lane] = p.z[s].dw[e];
      }
    });
    double value[kBlock], dx[kBlock], dy[kBlock], dz[kBlock];
    sum_gradient_stencils(plans_, stencils, lanes, value, dx, dy, dz);
    for (int32_t l = 0; l < lanes; ++l) results[lane_sample[l]] = Gradient{value[l], dx[l], dy[l], dz[l]};
  }

  const Volume &vol_;
  const PlanKernels &plans_;
  LookupGradBuilder build_;
  int32_t q_;
  double background_;
  // Scratch of this call, as in LookupStage.
  GradientTables tables_;
  BlockWeights weights_;
  RunMemo<GradientRun> x_;
  RunMemo<GradientRun> y_;
  RunMemo<GradientRun> z_;
  GradientStencils<CornerValue<Voxel>> stencils_;
};

}  // namespace volaccess

#endif
