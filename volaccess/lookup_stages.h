// The lookup-table stages: separable interpolation with q weights per
// axis from the weight builders (lookup.cpp), the runs built for x, then
// y, then z, for values and for values with derivatives. One stage serves
// both, over what a run carries (ValueRuns, GradientRuns). Every product
// and sum is formed in the order written; four-node stencils are summed
// by the plan stage in the same order, lane by lane.
#ifndef VOLACCESS_LOOKUP_STAGES_H
#define VOLACCESS_LOOKUP_STAGES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cell_plan.h"
#include "lookup_cache.h"
#include "lookup_runs.h"
#include "sample_pipeline.h"
#include "stage_support.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

// Which builders a lookup kernel uses: the choice the type units keep
// between calls.
enum class LookupKind { kLagrange, kSinc };

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

// Whether all three runs hold kStencilSide weights.
template <class Run>
bool full_stencil(const Run &rx, const Run &ry, const Run &rz) {
  return rx.n == kStencilSide && ry.n == kStencilSide && rz.n == kStencilSide;
}

// The voxels of a full stencil, its weights and the scale and offset of
// its planes into lane l.
template <class Voxel, class Run>
void gather_stencil(const Volume &vol, const Run &rx, const Run &ry, const Run &rz, int32_t l,
                    Stencils<CornerValue<Voxel>> &st) {
  using Value = CornerValue<Voxel>;
  for (int32_t c = 0; c < kStencilSide; ++c) {
    const int32_t k = rz.first + c;
    const void *plane = vol.data[k];
    for (int32_t b = 0; b < kStencilSide; ++b) {
      const std::ptrdiff_t row = vol.element(rx.first, ry.first + b);
      for (int32_t a = 0; a < kStencilSide; ++a) {
        st.v[(c * kStencilSide + b) * kStencilSide + a][l] =
            static_cast<Value>(Voxel::read(plane, row + a));
      }
    }
    st.scale[c][l] = vol.scale[k];
    st.offset[c][l] = vol.offset[k];
  }
  for (int32_t e = 0; e < kStencilSide; ++e) {
    st.wx[e][l] = rx.w[e];
    st.wy[e][l] = ry.w[e];
    st.wz[e][l] = rz.w[e];
  }
}

// The plan stage's sum of stencils kept as doubles or integers.
inline void sum_stencils(const PlanKernels &k, const Stencils<double> &st, int32_t n, double *out) {
  k.sum_stencils(&st, n, out);
}

inline void sum_stencils(const PlanKernels &k, const Stencils<int32_t> &st, int32_t n,
                         double *out) {
  k.sum_stencils_int(&st, n, out);
}

// The first half of a lookup stage's finish when its runs have four
// nodes: samples whose three runs keep all of them are handed to
// gather(s, lane), lane counting up from 0, while the rest (outside, or
// with a run cut at a rim or shortened at a voxel centre) are sampled one
// by one into results. Prefetches run ahead as in finish_each. Returns the
// number of lanes filled; lane_sample[l] is the sample of lane l.
template <class Stage, class Gather>
int32_t fill_stencil_lanes(const Stage &stage, const typename Stage::Plan &p, const Block &b,
                           const typename Stage::Plan &next, int32_t next_n,
                           typename Stage::Result *results, int32_t *lane_sample, Gather gather) {
  int32_t lanes = 0;
  for (int32_t s = 0; s < b.n; ++s) {
    prefetch_ahead(stage, p, b.n, next, next_n, s);
    if (p.cells.inside[s] && full_stencil(p.x[s], p.y[s], p.z[s])) {
      gather(s, lanes);
      lane_sample[lanes++] = s;
    } else {
      results[s] = stage.sample(p, b, s);
    }
  }
  return lanes;
}

// Every cache line of a sample's stencil: the bytes of the x run in each
// row of the y run, in each plane of the z run. Line addresses are formed
// on address values, as a run may start or end inside a line.
template <class Voxel, class Run>
void prefetch_stencil(const Volume &vol, const Run &rx, const Run &ry, const Run &rz) {
  if (rx.n == 0) return;
  constexpr uintptr_t kLine = 64;
  const auto size = static_cast<std::ptrdiff_t>(sizeof(typename Voxel::element_type));
  for (int32_t c = 0; c < rz.n; ++c) {
    const auto plane = reinterpret_cast<uintptr_t>(vol.data[rz.first + c]);
    for (int32_t b = 0; b < ry.n; ++b) {
      const std::ptrdiff_t row = vol.element(rx.first, ry.first + b);
      const uintptr_t start = plane + static_cast<uintptr_t>(row * size);
      const uintptr_t end = start + static_cast<uintptr_t>(rx.n * size) - 1;
      for (uintptr_t line = start & ~(kLine - 1); line <= end; line += kLine) {
        prefetch_line(reinterpret_cast<const void *>(line));
      }
    }
  }
}

// How many samples ahead a stencil of q x q x q nodes is prefetched: about
// kLinesAhead cache lines in flight, which covers the memory latency
// (64 to 512 lines measure alike), at least one sample and at most a
// block ahead.
constexpr int32_t kLinesAhead = 128;
inline int32_t stencil_ahead(int32_t q) {
  const int64_t lines = static_cast<int64_t>(q) * q;
  return static_cast<int32_t>(std::clamp<int64_t>(kLinesAhead / lines, 1, kBlock));
}

// The plan stage's gradient sum of stencils kept as doubles or integers.
inline void sum_gradient_stencils(const PlanKernels &k, const GradientStencils<double> &st,
                                  int32_t n, double *value, double *dx, double *dy, double *dz) {
  k.sum_gradient_stencils(&st, n, value, dx, dy, dz);
}

inline void sum_gradient_stencils(const PlanKernels &k, const GradientStencils<int32_t> &st,
                                  int32_t n, double *value, double *dx, double *dy, double *dz) {
  k.sum_gradient_stencils_int(&st, n, value, dx, dy, dz);
}

// The runs of a block's samples, built in the plan stage, so that a
// sample's stencil can be prefetched while earlier samples are summed.
template <class Run>
struct PlannedRuns {
  LookupPlan cells;
  Run x[kBlock];
  Run y[kBlock];
  Run z[kBlock];
};

// What the runs of the value kernels carry: weights, one array per slot.
// Only these form short Lagrange runs a block at a time.
struct ValueRuns {
  using Run = AxisRun;
  using Result = double;
  using Tables = WeightTables;
  template <class Value>
  using StencilBlock = Stencils<Value>;
  static constexpr int32_t kArrays = 1;
  static constexpr bool kBatchesLagrange = true;

  static LookupBuilder builder(LookupKind kind) {
    return kind == LookupKind::kSinc ? make_lookup_sinc : make_lookup_poly;
  }
  static Run build(LookupBuilder build, int32_t q, int32_t dim, Tables &tables, int axis,
                   double c) {
    return build_run(build, q, dim, tables.w[axis], c);
  }
  static Run copy(const Run &run, double *slot, int32_t /*width*/) { return copy_run(run, slot); }
  static Result outside(double background) { return background; }
  template <class Voxel>
  static Result sum(const Volume &vol, const Run &rx, const Run &ry, const Run &rz) {
    return lookup_sum<Voxel>(vol, rx, ry, rz);
  }
  template <class Value>
  static void gather_derivatives(StencilBlock<Value> & /*st*/, const Run & /*rx*/,
                                 const Run & /*ry*/, const Run & /*rz*/, int32_t /*lane*/) {}
  template <class Value>
  static void sum_lanes(const PlanKernels &k, const StencilBlock<Value> &st, int32_t lanes,
                        const int32_t *lane_sample, Result *results) {
    double sums[kBlock];
    sum_stencils(k, st, lanes, sums);
    for (int32_t l = 0; l < lanes; ++l) results[lane_sample[l]] = sums[l];
  }
};

// What the runs of the gradient kernels carry: weights and derivative
// weights, two arrays per slot. Outside, the background with zero
// derivatives.
struct GradientRuns {
  using Run = GradientRun;
  using Result = Gradient;
  using Tables = GradientTables;
  template <class Value>
  using StencilBlock = GradientStencils<Value>;
  static constexpr int32_t kArrays = 2;
  static constexpr bool kBatchesLagrange = false;

  static LookupGradBuilder builder(LookupKind kind) {
    return kind == LookupKind::kSinc ? make_lookup_sinc_grad : make_lookup_poly_grad;
  }
  static Run build(LookupGradBuilder build, int32_t q, int32_t dim, Tables &tables, int axis,
                   double c) {
    return build_gradient_run(build, q, dim, tables.w[axis], tables.dw[axis], c);
  }
  static Run copy(const Run &run, double *slot, int32_t width) {
    return copy_gradient_run(run, slot, width);
  }
  static Result outside(double background) { return Gradient{background, 0.0, 0.0, 0.0}; }
  template <class Voxel>
  static Result sum(const Volume &vol, const Run &rx, const Run &ry, const Run &rz) {
    return lookup_gradient_sum<Voxel>(vol, rx, ry, rz);
  }
  template <class Value>
  static void gather_derivatives(StencilBlock<Value> &st, const Run &rx, const Run &ry,
                                 const Run &rz, int32_t lane) {
    for (int32_t e = 0; e < kStencilSide; ++e) {
      st.dwx[e][lane] = rx.dw[e];
      st.dwy[e][lane] = ry.dw[e];
      st.dwz[e][lane] = rz.dw[e];
    }
  }
  template <class Value>
  static void sum_lanes(const PlanKernels &k, const StencilBlock<Value> &st, int32_t lanes,
                        const int32_t *lane_sample, Result *results) {
    double value[kBlock], dx[kBlock], dy[kBlock], dz[kBlock];
    sum_gradient_stencils(k, st, lanes, value, dx, dy, dz);
    for (int32_t l = 0; l < lanes; ++l)
      results[lane_sample[l]] = Gradient{value[l], dx[l], dy[l], dz[l]};
  }
};

// Separable interpolation with q weights per axis from the builders of
// kind: 0.95 <= c <= dim + 0.05 is inside. The runs of a whole block are
// built when it is planned, in sample order (x, then y, then z), or for
// short Lagrange value runs axis by axis, most of them formed across the
// block. A run's weights are the builder's bits either way, and the
// builder's cache ends as sample-by-sample calls leave it. Tables, slots
// and stencils are scratch of this call, so calls never share them.
template <class Voxel, class Runs>
class LookupStage {
 public:
  using Run = typename Runs::Run;
  using Plan = PlannedRuns<Run>;
  using Result = typename Runs::Result;
  LookupStage(const Volume &vol, const PlanKernels &plans, LookupKind kind, int32_t q,
              int64_t samples, double background)
      : vol_(vol), plans_(plans), kind_(kind), build_(Runs::builder(kind)), q_(q),
        background_(background),
        weights_(run_capacity(q, vol), Runs::kArrays, block_slots(samples)) {}

  void plan(const Block &b, Plan &p) {
    plans_.lookup(b.x, b.y, b.z, b.n, dims_of(vol_), &p.cells);
    p.cells.prefetch = b.prefetch;
    weights_.next_block();
    if constexpr (Runs::kBatchesLagrange) {
      if (kind_ == LookupKind::kLagrange && q_ <= kBatchNodes) {
        plan_lagrange_axis(b.x, b.n, p.cells, 0, p.x);
        plan_lagrange_axis(b.y, b.n, p.cells, 1, p.y);
        plan_lagrange_axis(b.z, b.n, p.cells, 2, p.z);
        return;
      }
    }
    for (int32_t s = 0; s < b.n; ++s) {
      if (!p.cells.inside[s]) continue;
      p.x[s] = run_into_slot(0, b.x[s], s);
      p.y[s] = run_into_slot(1, b.y[s], s);
      p.z[s] = run_into_slot(2, b.z[s], s);
    }
  }

  int32_t ahead() const { return stencil_ahead(q_); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.cells.prefetch && p.cells.inside[s])
      prefetch_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  Result sample(const Plan &p, const Block & /*b*/, int32_t s) const {
    if (!p.cells.inside[s]) return Runs::outside(background_);
    return Runs::template sum<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    if (q_ == kStencilSide) return finish_stencils(p, b, next, next_n, results);
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  // Lagrange runs of up to this many nodes that keep every node are
  // formed a block at a time in vector registers.
  static constexpr int32_t kBatchNodes = 8;

  int32_t dim(int axis) const { return axis == 0 ? vol_.dim0 : axis == 1 ? vol_.dim1 : vol_.dim2; }

  // The run at coordinate c along axis, from the memo or the builder,
  // copied into sample s's slot: the memo's table is rewritten by the next
  // build, the slot only by the block after next.
  Run run_into_slot(int axis, double c, int32_t s) {
    const Run &run = memo_[axis].get(
        c, [&](double v) { return Runs::build(build_, q_, dim(axis), tables_, axis, v); });
    return Runs::copy(run, weights_.slot(axis, s), weights_.width());
  }

  // Full four-node stencils are gathered into the lanes of one block of
  // stencils and summed across it; the other samples one by one.
  void finish_stencils(const Plan &p, const Block &b, const Plan &next, int32_t next_n,
                       Result *results) {
    int32_t lane_sample[kBlock];
    const int32_t lanes = fill_stencil_lanes(
        *this, p, b, next, next_n, results, lane_sample, [&](int32_t s, int32_t lane) {
          gather_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s], lane, stencils_);
          Runs::gather_derivatives(stencils_, p.x[s], p.y[s], p.z[s], lane);
        });
    Runs::sum_lanes(plans_, stencils_, lanes, lane_sample, results);
  }

  // The Lagrange runs of one axis of a block. A run that keeps all q
  // nodes has its weights formed across the block by the plan stage, with
  // the builder's own arithmetic; the rest (near a voxel centre, cut at a
  // rim, or beyond the 32-bit range) come from the builder itself.
  void plan_lagrange_axis(const double *c, int32_t count, const LookupPlan &cells, int axis,
                          Run *runs) {
    const int32_t m = std::min(count, kBlock);
    int32_t whole[kBlock];
    int32_t run_first[kBlock];
    double run_t[kBlock];
    plans_.lagrange_runs(c, m, q_, dim(axis), whole, run_first, run_t);
    double t[kBlock];
    int32_t sample[kBlock];
    int32_t n = 0;
    for (int32_t s = 0; s < m; ++s) {
      if (!cells.inside[s]) continue;
      if (whole[s]) {
        t[n] = run_t[s];
        sample[n++] = s;
      } else {
        runs[s] = run_into_slot(axis, c[s], s);
      }
    }
    if (n == 0) return;
    const double *denom = lagrange_denominators(q_);
    double w[kBatchNodes * kBlock];
    plans_.lagrange_weights(t, n, q_, poly_cache().k0, denom, w);
    for (int32_t l = 0; l < n; ++l) {
      double *slot = weights_.slot(axis, sample[l]);
      for (int32_t e = 0; e < q_; ++e) slot[e] = w[e * kBlock + l];
      runs[sample[l]] = AxisRun{run_first[sample[l]], q_, slot};
    }
  }

  const Volume &vol_;
  const PlanKernels &plans_;
  LookupKind kind_;
  decltype(Runs::builder(LookupKind::kLagrange)) build_;
  int32_t q_;
  double background_;
  typename Runs::Tables tables_;
  BlockWeights weights_;
  RunMemo<Run> memo_[3];
  // The stencils of a block, when the runs have four nodes.
  typename Runs::template StencilBlock<CornerValue<Voxel>> stencils_;
};

}  // namespace volaccess

#endif
