// The lookup-table stages: separable interpolation with q weights per
// axis from the weight builders (lookup.cpp), the runs built for x, then
// y, then z, for values and for values with derivatives. One stage serves
// both, over what a run carries (ValueRuns, GradientRuns); the sums are
// lookup_sums.h's.
#ifndef VOLACCESS_LOOKUP_STAGES_H
#define VOLACCESS_LOOKUP_STAGES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cell_plan.h"
#include "lookup_cache.h"
#include "lookup_runs.h"
#include "lookup_sums.h"
#include "sample_pipeline.h"
#include "stage_support.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

// Which builders a lookup kernel uses: the choice the type units keep
// between calls.
enum class LookupKind { kLagrange, kSinc };

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
    return lookup_sum<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
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
