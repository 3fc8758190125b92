// Value samplers shared by the point and slice kernels: one sample by
// nearest neighbour, trilinear interpolation or separable lookup-table
// weights, each as a stage of the block loop (sample_pipeline.h) whose
// plan comes from cell_plan.h. Every product and sum is formed in the
// order written; the results are part of the library's contract.
#ifndef VOLACCESS_SAMPLERS_H
#define VOLACCESS_SAMPLERS_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

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

// A hint to fetch the cache line holding address. GCC counts a prefetch
// as free of side effects, finds a function that only prefetches to be
// const and deletes the calls to it; the empty volatile statement, which
// emits no instruction, keeps every prefetch where it was written.
inline void prefetch_line(const void *address) {
  __builtin_prefetch(address);
  asm volatile("" : : "r"(address));
}

// A hint to fetch the cache line of element e of plane k.
template <class Voxel>
void prefetch_voxel(const Volume &vol, int32_t k, std::ptrdiff_t e) {
  const auto *plane = static_cast<const unsigned char *>(vol.data[k]);
  prefetch_line(plane + e * static_cast<std::ptrdiff_t>(sizeof(typename Voxel::element_type)));
}

// How a trilinear block keeps the corners of Voxel: as 32-bit integers
// when every value of the element type is one, else as doubles.
template <class Voxel>
using CornerValue = std::conditional_t<
    std::is_integral_v<typename Voxel::element_type> &&
        (sizeof(typename Voxel::element_type) < 4 ||
         (sizeof(typename Voxel::element_type) == 4 && std::is_signed_v<typename Voxel::element_type>)),
    int32_t, double>;

// Whether every plane has the scale and offset of the first, bit for bit
// (as a whole-volume scaling gives); false for a volume without planes.
inline bool uniform_scaling(const Volume &vol) {
  if (vol.dim2 < 1) return false;
  for (int32_t k = 1; k < vol.dim2; ++k) {
    if (coordinate_bits(vol.scale[k]) != coordinate_bits(vol.scale[0]) ||
        coordinate_bits(vol.offset[k]) != coordinate_bits(vol.offset[0])) {
      return false;
    }
  }
  return true;
}

// The corners of cell s into slot s of c: plane k0 before k1, each in the
// order e00, e10, e01, e11, then the scale and offset of both planes
// unless every plane shares them (c then holds them already). Outside the
// volume nothing is read: the corners are zeros, and so are the scales and
// offsets unless c holds the shared ones; the blend replaces the result.
template <class Voxel>
void gather_cell(const Volume &vol, const TrilinearPlan &p, int32_t s, bool uniform,
                 CellCorners<CornerValue<Voxel>> &c) {
  using Value = CornerValue<Voxel>;
  if (!p.inside[s]) {
    for (auto &corner : c.v) corner[s] = Value{0};
    if (uniform) return;
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
    for (const std::ptrdiff_t e : {e00, e10, e01, e11}) {
      c.v[corner++][s] = static_cast<Value>(Voxel::read(plane, e));
    }
  }
  if (uniform) return;
  c.scale0[s] = vol.scale[k0];
  c.offset0[s] = vol.offset[k0];
  c.scale1[s] = vol.scale[k1];
  c.offset1[s] = vol.offset[k1];
}

// The blend of the plan stage for corners kept as doubles or integers.
inline void blend_cells(const PlanKernels &k, const TrilinearPlan &p, const CellCorners<double> &c,
                        int32_t n, double background, double *out) {
  k.blend_trilinear(&p, &c, n, background, out);
}

inline void blend_cells(const PlanKernels &k, const TrilinearPlan &p, const CellCorners<int32_t> &c,
                        int32_t n, double background, double *out) {
  k.blend_trilinear_int(&p, &c, n, background, out);
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

// The corners of every cell of a block, gathered one sample at a time
// while the cells of the next block are prefetched, when they are worth
// it (TrilinearPlan::prefetch).
template <class Voxel>
void gather_block(const Volume &vol, const TrilinearPlan &p, int32_t n, const TrilinearPlan &next,
                  int32_t next_n, bool uniform, CellCorners<CornerValue<Voxel>> &corners) {
  // The next plan is only filled in when there is a next block.
  const int32_t fetched = next_n > 0 && next.prefetch ? next_n : 0;
  for (int32_t s = 0; s < n; ++s) {
    if (s < fetched && next.inside[s]) prefetch_cell<Voxel>(vol, next, s);
    gather_cell<Voxel>(vol, p, s, uniform, corners);
  }
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

  void plan(const Block &b, Plan &p) const {
    plans_.nearest(b.x, b.y, b.z, b.n, dims_of(vol_), &p);
    p.prefetch = b.prefetch;
  }

  static int32_t ahead() { return kBlock; }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.prefetch && p.inside[s]) prefetch_voxel<Voxel>(vol_, p.k[s], vol_.element(p.i[s], p.j[s]));
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

// Whether a call of `samples` samples should test for uniform scaling:
// the test reads every plane's scale and offset, which pays only when
// there are at least as many samples as planes.
inline bool worth_testing_scaling(const Volume &vol, int64_t samples) {
  return samples >= vol.dim2;
}

// The planning shared by the trilinear value and gradient stages: cells
// within 0.05 voxel beyond the outer voxel centres, the upper end open
// (TrilinearPlan), prefetched a block ahead when the block is scattered.
// The corners of a block are gathered into one record kept for the whole
// call; when every plane shares its scale and offset, the record holds
// them from the start (in the slots the call's samples use) and the
// gathers only fetch voxels. The record is not cleared: the gathers write
// every slot the blend reads.
template <class Voxel>
class TrilinearCells {
 public:
  using Plan = TrilinearPlan;
  TrilinearCells(const Volume &vol, const PlanKernels &plans, int64_t samples, double background)
      : vol_(vol), plans_(plans), background_(background),
        uniform_(worth_testing_scaling(vol, samples) && uniform_scaling(vol)) {
    if (!uniform_) return;
    const auto slots = static_cast<int32_t>(std::min<int64_t>(samples, kBlock));
    std::fill_n(corners_.scale0, slots, vol.scale[0]);
    std::fill_n(corners_.scale1, slots, vol.scale[0]);
    std::fill_n(corners_.offset0, slots, vol.offset[0]);
    std::fill_n(corners_.offset1, slots, vol.offset[0]);
  }

  void plan(const Block &b, Plan &p) const {
    plans_.trilinear(b.x, b.y, b.z, b.n, dims_of(vol_), &p);
    p.prefetch = b.prefetch;
  }

  static int32_t ahead() { return kBlock; }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.prefetch && p.inside[s]) prefetch_cell<Voxel>(vol_, p, s);
  }

 protected:
  // The corners of the block's cells, gathered one sample at a time.
  const CellCorners<CornerValue<Voxel>> &gather(const Plan &p, int32_t n, const Plan &next, int32_t next_n) {
    gather_block<Voxel>(vol_, p, n, next, next_n, uniform_, corners_);
    return corners_;
  }

  const Volume &vol_;
  const PlanKernels &plans_;
  double background_;

 private:
  bool uniform_;
  CellCorners<CornerValue<Voxel>> corners_;
};

// Trilinear interpolation: the corners of the whole block are gathered,
// then blended across samples in vector registers.
template <class Voxel>
class TrilinearStage : public TrilinearCells<Voxel> {
 public:
  using Plan = TrilinearPlan;
  using Result = double;
  using TrilinearCells<Voxel>::TrilinearCells;

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    const CellCorners<CornerValue<Voxel>> &corners = this->gather(p, b.n, next, next_n);
    blend_cells(this->plans_, p, corners, b.n, this->background_, results);
  }
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
        st.v[(c * kStencilSide + b) * kStencilSide + a][l] = static_cast<Value>(Voxel::read(plane, row + a));
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

inline void sum_stencils(const PlanKernels &k, const Stencils<int32_t> &st, int32_t n, double *out) {
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

// The runs of a block's samples, built in the plan stage, so that a
// sample's stencil can be prefetched while earlier samples are summed.
template <class Run>
struct PlannedRuns {
  LookupPlan cells;
  Run x[kBlock];
  Run y[kBlock];
  Run z[kBlock];
};

// The longest run of q nodes in vol: a run keeps only nodes inside the
// volume, so it never holds more weights than the longest axis has voxels
// (at least one slot weight, so that the storage is never empty). A large
// node count on a small volume then costs no large buffer.
inline int32_t run_capacity(int32_t q, const Volume &vol) {
  const int32_t longest = std::max({vol.dim0, vol.dim1, vol.dim2, 1});
  return std::min(q, longest);
}

// The samples of one block of a call of `samples` samples: a block never
// holds more, so a small call needs only small scratch.
inline int32_t block_slots(int64_t samples) {
  return static_cast<int32_t>(std::clamp<int64_t>(samples, 1, kBlock));
}

// Weight storage for the runs of two blocks (the one being summed and the
// one being planned): per block, axis and sample, arrays of `width`
// weights. The plans alternate between the two halves in the order
// run_blocks plans them, so a block's weights live until the block after
// next is planned. Not cleared: a slot is read only after a run is copied
// into it.
class BlockWeights {
 public:
  BlockWeights(int32_t width, int32_t arrays, int32_t slots)
      : width_(width), arrays_(arrays), slots_(slots),
        storage_(new double[static_cast<std::size_t>(2 * 3 * slots) * arrays * width]) {}

  // Weights per array.
  int32_t width() const { return width_; }

  // Starts the next block's half.
  void next_block() { half_ ^= 1; }

  // The first array of the slot of sample s along axis a (0 x, 1 y, 2 z)
  // in the current half; a slot's arrays follow each other.
  double *slot(int32_t a, int32_t s) {
    const std::ptrdiff_t index = (static_cast<std::ptrdiff_t>(half_) * 3 + a) * slots_ + s;
    return storage_.get() + index * arrays_ * width_;
  }

 private:
  int32_t width_;
  int32_t arrays_;
  int32_t slots_;
  int half_ = 1;
  std::unique_ptr<double[]> storage_;
};

// The memo's run with its weights copied into slot: the memo's table is
// rewritten by the next sample's build, the slot only by the block after
// next.
inline AxisRun copy_run(const AxisRun &run, double *slot) {
  std::copy(run.w, run.w + run.n, slot);
  return AxisRun{run.first, run.n, slot};
}

// Separable interpolation with q weights per axis from the builder, the
// runs built for x, then y, then z: 0.95 <= c <= dim + 0.05 is inside.
// The runs of a whole block are built when it is planned: in sample
// order, or for short Lagrange runs axis by axis, most of them formed
// across the block. A run's weights are the builder's bits either way,
// and the builder's cache ends as sample-by-sample calls leave it.
template <class Voxel>
class LookupStage {
 public:
  using Plan = PlannedRuns<AxisRun>;
  using Result = double;
  LookupStage(const Volume &vol, const PlanKernels &plans, LookupBuilder build, int32_t q,
              int64_t samples, double background)
      : vol_(vol), plans_(plans), build_(build), q_(q), background_(background),
        weights_(run_capacity(q, vol), 1, block_slots(samples)) {}

  void plan(const Block &b, Plan &p) {
    plans_.lookup(b.x, b.y, b.z, b.n, dims_of(vol_), &p.cells);
    p.cells.prefetch = b.prefetch;
    weights_.next_block();
    if (build_ == make_lookup_poly && q_ <= kBatchNodes) {
      plan_lagrange_axis(b.x, b.n, p.cells, 0, vol_.dim0, tables_.tablex, x_, p.x);
      plan_lagrange_axis(b.y, b.n, p.cells, 1, vol_.dim1, tables_.tabley, y_, p.y);
      plan_lagrange_axis(b.z, b.n, p.cells, 2, vol_.dim2, tables_.tablez, z_, p.z);
      return;
    }
    for (int32_t s = 0; s < b.n; ++s) {
      if (!p.cells.inside[s]) continue;
      p.x[s] = copy_run(x_.get(b.x[s], [this](double c) {
        return build_run(build_, q_, vol_.dim0, tables_.tablex, c);
      }), weights_.slot(0, s));
      p.y[s] = copy_run(y_.get(b.y[s], [this](double c) {
        return build_run(build_, q_, vol_.dim1, tables_.tabley, c);
      }), weights_.slot(1, s));
      p.z[s] = copy_run(z_.get(b.z[s], [this](double c) {
        return build_run(build_, q_, vol_.dim2, tables_.tablez, c);
      }), weights_.slot(2, s));
    }
  }

  int32_t ahead() const { return stencil_ahead(q_); }

  void prefetch(const Plan &p, int32_t s) const {
    if (p.cells.prefetch && p.cells.inside[s]) prefetch_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  double sample(const Plan &p, const Block & /*b*/, int32_t s) const {
    if (!p.cells.inside[s]) return background_;
    return lookup_sum<Voxel>(vol_, p.x[s], p.y[s], p.z[s]);
  }

  void finish(const Plan &p, const Block &b, const Plan &next, int32_t next_n, Result *results) {
    if (q_ == kStencilSide) return finish_stencils(p, b, next, next_n, results);
    finish_each(*this, p, b, next, next_n, results);
  }

 private:
  // Full four-node stencils are gathered into the lanes of one block of
  // stencils and summed across it; the other samples one by one.
  void finish_stencils(const Plan &p, const Block &b, const Plan &next, int32_t next_n,
                       Result *results) {
    Stencils<CornerValue<Voxel>> &stencils = stencils_;
    int32_t lane_sample[kBlock];
    const int32_t lanes = fill_stencil_lanes(*this, p, b, next, next_n, results, lane_sample,
                                             [&](int32_t s, int32_t lane) {
      gather_stencil<Voxel>(vol_, p.x[s], p.y[s], p.z[s], lane, stencils);
    });
    double sums[kBlock];
    sum_stencils(plans_, stencils, lanes, sums);
    for (int32_t l = 0; l < lanes; ++l) results[lane_sample[l]] = sums[l];
  }

  // Lagrange runs of up to this many nodes that keep every node are
  // formed a block at a time in vector registers.
  static constexpr int32_t kBatchNodes = 8;

  // The Lagrange runs of one axis of a block. A run that keeps all q
  // nodes has its weights formed across the block by the plan stage, with
  // the builder's own arithmetic; the rest (near a voxel centre, cut at a
  // rim, or beyond the 32-bit range) come from the builder itself.
  void plan_lagrange_axis(const double *c, int32_t count, const LookupPlan &cells, int32_t axis,
                          int32_t d, double *table, RunMemo<AxisRun> &memo, AxisRun *runs) {
    const int32_t m = std::min(count, kBlock);
    int32_t whole[kBlock];
    int32_t run_first[kBlock];
    double run_t[kBlock];
    plans_.lagrange_runs(c, m, q_, d, whole, run_first, run_t);
    double t[kBlock];
    int32_t sample[kBlock];
    int32_t n = 0;
    for (int32_t s = 0; s < m; ++s) {
      if (!cells.inside[s]) continue;
      if (whole[s]) {
        t[n] = run_t[s];
        sample[n++] = s;
      } else {
        runs[s] = copy_run(memo.get(c[s], [&](double v) { return build_run(build_, q_, d, table, v); }),
                           weights_.slot(axis, s));
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
  LookupBuilder build_;
  int32_t q_;
  double background_;
  // The builders' output, rewritten for every run built; scratch of this
  // call, like the rest below, so that calls never share it.
  WeightTables tables_;
  BlockWeights weights_;
  RunMemo<AxisRun> x_;
  RunMemo<AxisRun> y_;
  RunMemo<AxisRun> z_;
  // The stencils of a block, when the runs have four nodes.
  Stencils<CornerValue<Voxel>> stencils_;
};

// The scaled copy of one plane of count elements, in storage order.
template <class Voxel>
void copy_plane(double *image, const void *plane, std::ptrdiff_t count, double scale, double offset) {
  for (std::ptrdiff_t e = 0; e < count; ++e) image[e] = Voxel::at(plane, e) * scale + offset;
}

}  // namespace volaccess

#endif
