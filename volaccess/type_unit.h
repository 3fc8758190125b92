// The type unit: the twelve sampling functions of one voxel encoding
// (listed in volaccess.h) and the builder choice they keep between calls,
// written once over a voxel-reader policy. Each entry decodes its hold
// code (hold_codes.h) and runs the stage of the kernel it selects over the
// points or the slice walk. Each instantiation keeps its own choice of
// builders, one per thread, so that calls from several threads never
// share it and each thread sees the sequence of choices its own calls made.
#ifndef VOLACCESS_TYPE_UNIT_H
#define VOLACCESS_TYPE_UNIT_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "hold_codes.h"
#include "lookup_stages.h"
#include "nearest_stage.h"
#include "sample_pipeline.h"
#include "slice_walk.h"
#include "stage_support.h"
#include "trilinear_stages.h"
#include "vector_paths.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

// The lookup kernels are exported, so they bound their node count too.
inline int32_t clamp_nodes(int32_t q) { return std::clamp(q, 1, kTableEntries); }

// The builders a decoded hold code asks for: the windowed sinc for sinc
// codes, the Lagrange ones for every other code.
inline LookupKind lookup_kind_of(const HoldRule &rule) {
  return rule.kernel == HoldKernel::kSinc ? LookupKind::kSinc : LookupKind::kLagrange;
}

// The scaled copy of one plane of count elements, in storage order.
template <class Voxel>
void copy_plane(double *image, const void *plane, std::ptrdiff_t count, double scale,
                double offset) {
  for (std::ptrdiff_t e = 0; e < count; ++e) image[e] = Voxel::at(plane, e) * scale + offset;
}

// Where the gradient kernels put a sample's value and derivatives.
struct GradientStore {
  double *out;
  double *gradx;
  double *grady;
  double *gradz;
  void operator()(std::ptrdiff_t p, const Gradient &g) const {
    out[p] = g.value;
    gradx[p] = g.dx;
    grady[p] = g.dy;
    gradz[p] = g.dz;
  }
};

// The pixels of an xdim1-by-ydim1 slice; 0 when either side is not
// positive.
inline int64_t pixel_count(int32_t xdim1, int32_t ydim1) {
  return xdim1 < 1 || ydim1 < 1 ? 0 : static_cast<int64_t>(xdim1) * ydim1;
}

// The m points through stage, results stored in point order.
template <class Stage, class Store>
void sample_points(Stage &stage, int32_t m, const double *x, const double *y, const double *z,
                   Store store) {
  PointSource points(m, x, y, z);
  run_blocks(stage, points, store);
}

// Columns of a row per block of the slice walk (SliceWalk): for nearest
// and trilinear cells, half a block, which keeps the few rows' voxels in
// the nearest cache (a rotated trilinear slice took a sixteenth less
// time); lookup stencils are gathered a whole block at a time.
constexpr int32_t kCellPiece = kBlock / 2;
constexpr int32_t kStencilPiece = kBlock;

// The pixels of the slice walk through stage, into image in pixel order,
// handed out `piece` columns of a row at a time. Returns -1 when the walk
// met a W of exactly zero, else 0.
template <class Stage>
int32_t sample_slice(Stage &stage, int32_t piece, const double *mat, double *image, int32_t xdim1,
                     int32_t ydim1) {
  SliceWalk walk(mat, xdim1, ydim1, plan_kernels(), piece);
  run_blocks(stage, walk, [image](std::ptrdiff_t e, double v) { image[e] = v; });
  return walk.stopped() ? -1 : 0;
}

template <class Voxel>
struct TypeUnit {
  // The builders behind the lookup kernels, chosen by every entry call
  // from its hold code; a new thread starts with the Lagrange ones.
  static inline thread_local LookupKind lookup_kind = LookupKind::kLagrange;
  static inline thread_local LookupKind gradient_lookup_kind = LookupKind::kLagrange;

  static void resample(int32_t m, void **data, double *out, const double *x, const double *y,
                       const double *z, int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold,
                       double background, const double *scale, const double *offset) {
    const HoldRule rule = decode_hold(hold);
    lookup_kind = lookup_kind_of(rule);
    switch (rule.kernel) {
      case HoldKernel::kNearest:
        return resample_0(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);
      case HoldKernel::kTrilinear:
        return resample_1(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);
      case HoldKernel::kLagrange:
      case HoldKernel::kSinc: break;
    }
    resample_poly(m, data, out, x, y, z, dim0, dim1, dim2, rule.nodes, background, scale, offset);
  }

  static void resample_0(int32_t m, void **data, double *out, const double *x, const double *y,
                         const double *z, int32_t dim0, int32_t dim1, int32_t dim2,
                         double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    NearestStage<Voxel> stage(vol, plan_kernels(), background);
    sample_points(stage, m, x, y, z, [out](std::ptrdiff_t p, double v) { out[p] = v; });
  }

  static void resample_1(int32_t m, void **data, double *out, const double *x, const double *y,
                         const double *z, int32_t dim0, int32_t dim1, int32_t dim2,
                         double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    TrilinearStage<Voxel> stage(vol, plan_kernels(), m, background);
    sample_points(stage, m, x, y, z, [out](std::ptrdiff_t p, double v) { out[p] = v; });
  }

  static void resample_poly(int32_t m, void **data, double *out, const double *x, const double *y,
                            const double *z, int32_t dim0, int32_t dim1, int32_t dim2, int32_t q,
                            double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    LookupStage<Voxel, ValueRuns> stage(vol, plan_kernels(), lookup_kind, clamp_nodes(q), m,
                                        background);
    sample_points(stage, m, x, y, z, [out](std::ptrdiff_t p, double v) { out[p] = v; });
  }

  // There is no nearest-neighbour gradient: code 0 takes the lookup
  // kernel of its one node.
  static void resample_d(int32_t m, void **data, double *out, double *gradx, double *grady,
                         double *gradz, const double *x, const double *y, const double *z,
                         int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, double background,
                         const double *scale, const double *offset) {
    const HoldRule rule = decode_hold(hold);
    gradient_lookup_kind = lookup_kind_of(rule);
    if (rule.kernel == HoldKernel::kTrilinear) {
      return resample_d_1(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, background,
                          scale, offset);
    }
    resample_d_poly(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, rule.nodes,
                    background, scale, offset);
  }

  static void resample_d_1(int32_t m, void **data, double *out, double *gradx, double *grady,
                           double *gradz, const double *x, const double *y, const double *z,
                           int32_t dim0, int32_t dim1, int32_t dim2, double background,
                           const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    TrilinearGradientStage<Voxel> stage(vol, plan_kernels(), m, background);
    sample_points(stage, m, x, y, z, GradientStore{out, gradx, grady, gradz});
  }

  static void resample_d_poly(int32_t m, void **data, double *out, double *gradx, double *grady,
                              double *gradz, const double *x, const double *y, const double *z,
                              int32_t dim0, int32_t dim1, int32_t dim2, int32_t q,
                              double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    LookupStage<Voxel, GradientRuns> stage(vol, plan_kernels(), gradient_lookup_kind,
                                           clamp_nodes(q), m, background);
    sample_points(stage, m, x, y, z, GradientStore{out, gradx, grady, gradz});
  }

  // A transform that selects one whole plane copies it, whatever the hold
  // code, and leaves the builder choice as it was.
  static int32_t slice(const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data,
                       int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, double background,
                       const double *scale, const double *offset) {
    if (selects_whole_plane(mat, xdim1, ydim1, dim0, dim1, dim2)) {
      const auto k = static_cast<int32_t>(std::floor(mat[14] + 0.5)) - 1;
      copy_plane<Voxel>(image, data[k], static_cast<std::ptrdiff_t>(xdim1) * ydim1, scale[k],
                        offset[k]);
      return 0;
    }
    const HoldRule rule = decode_hold(hold);
    lookup_kind = lookup_kind_of(rule);
    switch (rule.kernel) {
      case HoldKernel::kNearest:
        return slice_0(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset);
      case HoldKernel::kTrilinear:
        return slice_1(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset);
      case HoldKernel::kLagrange:
      case HoldKernel::kSinc: break;
    }
    return slice_poly(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, rule.nodes, background,
                      scale, offset);
  }

  static int32_t slice_0(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                         void **data, int32_t dim0, int32_t dim1, int32_t dim2, double background,
                         const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    NearestStage<Voxel> stage(vol, plan_kernels(), background);
    return sample_slice(stage, kCellPiece, mat, image, xdim1, ydim1);
  }

  static int32_t slice_1(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                         void **data, int32_t dim0, int32_t dim1, int32_t dim2, double background,
                         const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    TrilinearStage<Voxel> stage(vol, plan_kernels(), pixel_count(xdim1, ydim1), background);
    return sample_slice(stage, kCellPiece, mat, image, xdim1, ydim1);
  }

  static int32_t slice_poly(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                            void **data, int32_t dim0, int32_t dim1, int32_t dim2, int32_t q,
                            double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    LookupStage<Voxel, ValueRuns> stage(vol, plan_kernels(), lookup_kind, clamp_nodes(q),
                                        pixel_count(xdim1, ydim1), background);
    return sample_slice(stage, kStencilPiece, mat, image, xdim1, ydim1);
  }

  // Plane k (counted from 1, not tested) scaled into image, in storage
  // order; nothing when dim0 * dim1 is 0 or negative.
  static void plane(int32_t k, double *image, void **data, int32_t dim0, int32_t dim1,
                    const double *scale, const double *offset) {
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(dim0) * dim1;
    if (count <= 0) return;
    copy_plane<Voxel>(image, data[k - 1], count, scale[k - 1], offset[k - 1]);
  }
};

}  // namespace volaccess

#endif
