// The sums of the lookup-table stages (lookup_stages.h): one sample's
// separable sum of values or of values and derivatives, and the
// four-node stencils a block gathers so that the plan stage sums them
// across samples in vector registers, in the same order, lane by lane;
// with the prefetch of a sample's stencil.
#ifndef VOLACCESS_LOOKUP_SUMS_H
#define VOLACCESS_LOOKUP_SUMS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cell_plan.h"
#include "lookup_runs.h"
#include "sample_pipeline.h"
#include "stage_support.h"
#include "volume.h"

namespace volaccess {

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

// The gradient runs' sum, in one pass over the voxels: each row is summed
// with the x weights and the x derivative weights together, and the y and z sums reuse those row
// sums. The offset enters only the value and the derivative along z.
template <class Voxel>
Gradient lookup_sum(const Volume &vol, const GradientRun &rx, const GradientRun &ry,
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

}  // namespace volaccess

#endif
