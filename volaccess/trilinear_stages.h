// The trilinear stages, value and gradient side by side: the plan stage
// finds each sample's cell, the corners of a block are gathered, and the
// plan stage blends them across the block. The value and the gradient
// blends have orders of their own (plan_core.inc), so a trilinear value
// and the value beside a trilinear gradient may differ in the last bits.
#ifndef VOLACCESS_TRILINEAR_STAGES_H
#define VOLACCESS_TRILINEAR_STAGES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cell_plan.h"
#include "sample_pipeline.h"
#include "stage_support.h"
#include "volume.h"
#include "voxel_reader.h"

namespace volaccess {

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

// Whether the corners of Voxel are read by the plan stage's gathers:
// 16-bit voxels (gather_cells16) or 32-bit floats (gather_cells_float) in
// the machine's byte order.
template <class Voxel>
constexpr bool kGathers16 = std::is_same_v<Voxel, VoxelReader<int16_t, &direct<int16_t>>> ||
                            std::is_same_v<Voxel, VoxelReader<uint16_t, &direct<uint16_t>>>;
template <class Voxel>
constexpr bool kGathersFloat = std::is_same_v<Voxel, VoxelReader<float, &direct<float>>>;

// Whether the plan stage has a vector gather for the corners of Voxel.
template <class Voxel>
bool has_gather(const PlanKernels &plans) {
  if constexpr (kGathers16<Voxel>) return plans.gather_cells16 != nullptr;
  if constexpr (kGathersFloat<Voxel>) return plans.gather_cells_float != nullptr;
  return false;
}

// The bytes from each plane to the next when every plane lies that far
// after the one before (as in one mapped file or one array), else 0.
inline int64_t even_plane_bytes(const Volume &vol) {
  if (vol.dim2 < 2) return 0;
  const auto address = [&vol](int32_t k) { return reinterpret_cast<uintptr_t>(vol.data[k]); };
  const uintptr_t step = address(1) - address(0);
  for (int32_t k = 2; k < vol.dim2; ++k) {
    if (address(k) - address(k - 1) != step) return 0;
  }
  return static_cast<int64_t>(step);
}

// The planes of a volume of elements of `bytes` bytes as the gathers take
// them, into v; the base is only given when the test of even planes is worth it (as for the
// scaling, with at least as many samples as planes) and passes, or for a
// volume of one plane. Filled field by field: a record built whole and
// copied in costs a small call more than all the rest of its setup.
inline void fill_plane_layout(const Volume &vol, int32_t bytes, bool is_signed, bool uniform,
                              int64_t samples, PlaneLayout &v) {
  v.planes = vol.data;
  v.base = nullptr;
  v.plane_bytes = 0;
  v.offsets32 = 0;
  v.scale = vol.scale;
  v.offset = vol.offset;
  v.dim0 = vol.dim0;
  v.is_signed = is_signed;
  v.scaled = !uniform;
  if (vol.dim2 == 1) {
    v.base = static_cast<const unsigned char *>(vol.data[0]);
  } else if (samples >= vol.dim2) {
    v.plane_bytes = even_plane_bytes(vol);
    if (v.plane_bytes != 0) v.base = static_cast<const unsigned char *>(vol.data[0]);
  }
  // Every term is checked below 2^31 before the products, which then fit
  // 64 bits.
  constexpr int64_t kLimit = int64_t{1} << 31;
  const int64_t row_bytes = int64_t{bytes} * vol.dim0;
  if (v.base == nullptr || v.plane_bytes < 0 || v.plane_bytes >= kLimit || vol.dim1 < 0 ||
      row_bytes >= kLimit) {
    return;
  }
  const int64_t end = v.plane_bytes * (vol.dim2 - 1) + row_bytes * vol.dim1;
  v.offsets32 = end < kLimit;
}

// The corners of every cell of a block, while the cells of the next block
// are prefetched when they are worth it (TrilinearPlan::prefetch). 16-bit
// voxels, and floats within 2 GiB of their first plane, go to the plan
// stage's vector gathers where it has them, unless the block is smaller
// than one vector of cells: a gather's latency then costs more than
// reading the few voxels one by one.
template <class Voxel>
void gather_block(const Volume &vol, const PlanKernels &plans, const PlaneLayout &planes,
                  const TrilinearPlan &p, int32_t n, const TrilinearPlan &next, int32_t next_n,
                  bool uniform, CellCorners<CornerValue<Voxel>> &corners) {
  // The next plan is only filled in when there is a next block.
  const int32_t fetched = next_n > 0 && next.prefetch ? next_n : 0;
  if constexpr (kGathers16<Voxel> || kGathersFloat<Voxel>) {
    const bool vector = has_gather<Voxel>(plans) && n >= kGatherLanes &&
                        (kGathers16<Voxel> || planes.offsets32 != 0);
    if (vector) {
      for (int32_t s = 0; s < fetched; ++s) {
        if (next.inside[s]) prefetch_cell<Voxel>(vol, next, s);
      }
      if constexpr (kGathers16<Voxel>) {
        plans.gather_cells16(&p, &planes, n, &corners);
      } else {
        plans.gather_cells_float(&p, &planes, n, &corners);
      }
      return;
    }
  }
  for (int32_t s = 0; s < n; ++s) {
    if (s < fetched && next.inside[s]) prefetch_cell<Voxel>(vol, next, s);
    gather_cell<Voxel>(vol, p, s, uniform, corners);
  }
}

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
    if (has_gather<Voxel>(plans)) {
      using Element = typename Voxel::element_type;
      fill_plane_layout(vol, sizeof(Element), std::is_signed_v<Element>, uniform_, samples,
                        layout_);
    }
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
  // The corners of the block's cells (gather_block).
  const CellCorners<CornerValue<Voxel>> &gather(const Plan &p, int32_t n, const Plan &next,
                                                int32_t next_n) {
    gather_block<Voxel>(vol_, plans_, layout_, p, n, next, next_n, uniform_, corners_);
    return corners_;
  }

  const Volume &vol_;
  const PlanKernels &plans_;
  double background_;

 private:
  bool uniform_;
  // Only filled in for the plan stage's gather_cells16.
  PlaneLayout layout_;
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

// The gradient blend of the plan stage for corners kept as doubles or
// integers.
inline void blend_gradients(const PlanKernels &k, const TrilinearPlan &p,
                            const CellCorners<double> &c, int32_t n, double background,
                            double *value, double *dx, double *dy, double *dz) {
  k.blend_trilinear_gradient(&p, &c, n, background, value, dx, dy, dz);
}

inline void blend_gradients(const PlanKernels &k, const TrilinearPlan &p,
                            const CellCorners<int32_t> &c, int32_t n, double background,
                            double *value, double *dx, double *dy, double *dz) {
  k.blend_trilinear_gradient_int(&p, &c, n, background, value, dx, dy, dz);
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

}  // namespace volaccess

#endif
