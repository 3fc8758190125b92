// The type unit: the twelve sampling functions of one voxel encoding and
// the builder choice they keep between calls, written once over a
// voxel-reader policy. Each instantiation keeps its own builder pointers,
// one pair per thread, so that calls from several threads never share
// them and each thread sees the sequence of choices its own calls made.
#ifndef VOLACCESS_TYPE_UNIT_H
#define VOLACCESS_TYPE_UNIT_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "gradient_samplers.h"
#include "samplers.h"
#include "sample_pipeline.h"
#include "slice_walk.h"
#include "vector_paths.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

// Hold codes beyond +-254 would ask for more nodes than the weight tables
// hold; they are clamped to the largest stencil.
constexpr int32_t kMaxHold = kTableSize - 1;

inline int32_t clamp_hold(int32_t hold) { return std::clamp(hold, -kMaxHold, kMaxHold); }

// The lookup kernels are exported, so they bound their node count too.
inline int32_t clamp_nodes(int32_t q) { return std::clamp(q, 1, kTableSize); }

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

// The pixels of the slice walk through stage, into image in pixel order.
// Returns -1 when the walk met a W of exactly zero, else 0.
template <class Stage>
int32_t sample_slice(Stage &stage, const double *mat, double *image, int32_t xdim1, int32_t ydim1) {
  SliceWalk walk(mat, xdim1, ydim1, plan_kernels());
  run_blocks(stage, walk, [image](std::ptrdiff_t e, double v) { image[e] = v; });
  return walk.stopped() ? -1 : 0;
}

template <class Voxel>
struct TypeUnit {
  // The builders behind the lookup kernels, chosen by every entry call;
  // a new thread starts with the Lagrange ones.
  static inline thread_local LookupBuilder make_lookup = make_lookup_poly;
  static inline thread_local LookupGradBuilder make_lookup_grad = make_lookup_poly_grad;

  static void resample(int32_t m, void **data, double *out, const double *x, const double *y,
                       const double *z, int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold,
                       double background, const double *scale, const double *offset) {
    hold = clamp_hold(hold);
    if (hold < 0) {
      make_lookup = make_lookup_sinc;
      return resample_poly(m, data, out, x, y, z, dim0, dim1, dim2, 1 - hold, background, scale,
                           offset);
    }
    make_lookup = make_lookup_poly;
    if (hold == 1) {
      return resample_1(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);
    }
    if (hold == 0) {
      return resample_0(m, data, out, x, y, z, dim0, dim1, dim2, background, scale, offset);
    }
    resample_poly(m, data, out, x, y, z, dim0, dim1, dim2, hold + 1, background, scale, offset);
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
    LookupStage<Voxel> stage(vol, plan_kernels(), make_lookup, clamp_nodes(q), m, background);
    sample_points(stage, m, x, y, z, [out](std::ptrdiff_t p, double v) { out[p] = v; });
  }

  static void resample_d(int32_t m, void **data, double *out, double *gradx, double *grady,
                         double *gradz, const double *x, const double *y, const double *z,
                         int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, double background,
                         const double *scale, const double *offset) {
    hold = clamp_hold(hold);
    if (hold < 0) {
      make_lookup_grad = make_lookup_sinc_grad;
      return resample_d_poly(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, 1 - hold,
                             background, scale, offset);
    }
    make_lookup_grad = make_lookup_poly_grad;
    if (hold == 1) {
      return resample_d_1(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, background,
                          scale, offset);
    }
    resample_d_poly(m, data, out, gradx, grady, gradz, x, y, z, dim0, dim1, dim2, hold + 1,
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
    LookupGradientStage<Voxel> stage(vol, plan_kernels(), make_lookup_grad, clamp_nodes(q), m,
                                     background);
    sample_points(stage, m, x, y, z, GradientStore{out, gradx, grady, gradz});
  }

  // A transform that selects one whole plane copies it, whatever the hold
  // code, and leaves the builder pointer as it was.
  static int32_t slice(const double *mat, double *image, int32_t xdim1, int32_t ydim1, void **data,
                       int32_t dim0, int32_t dim1, int32_t dim2, int32_t hold, double background,
                       const double *scale, const double *offset) {
    if (selects_whole_plane(mat, xdim1, ydim1, dim0, dim1, dim2)) {
      const auto k = static_cast<int32_t>(std::floor(mat[14] + 0.5)) - 1;
      copy_plane<Voxel>(image, data[k], static_cast<std::ptrdiff_t>(xdim1) * ydim1, scale[k],
                        offset[k]);
      return 0;
    }
    hold = clamp_hold(hold);
    if (hold < 0) {
      make_lookup = make_lookup_sinc;
      return slice_poly(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, 1 - hold, background,
                        scale, offset);
    }
    make_lookup = make_lookup_poly;
    if (hold == 1) {
      return slice_1(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset);
    }
    if (hold == 0) {
      return slice_0(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, background, scale, offset);
    }
    return slice_poly(mat, image, xdim1, ydim1, data, dim0, dim1, dim2, hold + 1, background,
                      scale, offset);
  }

  static int32_t slice_0(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                         void **data, int32_t dim0, int32_t dim1, int32_t dim2, double background,
                         const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    NearestStage<Voxel> stage(vol, plan_kernels(), background);
    return sample_slice(stage, mat, image, xdim1, ydim1);
  }

  static int32_t slice_1(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                         void **data, int32_t dim0, int32_t dim1, int32_t dim2, double background,
                         const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    TrilinearStage<Voxel> stage(vol, plan_kernels(), pixel_count(xdim1, ydim1), background);
    return sample_slice(stage, mat, image, xdim1, ydim1);
  }

  static int32_t slice_poly(const double *mat, double *image, int32_t xdim1, int32_t ydim1,
                            void **data, int32_t dim0, int32_t dim1, int32_t dim2, int32_t q,
                            double background, const double *scale, const double *offset) {
    const Volume vol{data, dim0, dim1, dim2, scale, offset};
    LookupStage<Voxel> stage(vol, plan_kernels(), make_lookup, clamp_nodes(q),
                             pixel_count(xdim1, ydim1), background);
    return sample_slice(stage, mat, image, xdim1, ydim1);
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
