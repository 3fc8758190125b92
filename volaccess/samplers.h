// Value samplers shared by the point and slice kernels: one sample at
// 1-based voxel coordinates by nearest neighbour, trilinear interpolation
// or separable lookup-table weights. Every product and sum is formed in
// the order written; the results are part of the library's contract.
#ifndef VOLACCESS_SAMPLERS_H
#define VOLACCESS_SAMPLERS_H

#include <cstdint>

#include "lookup_cache.h"
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

template <class Voxel>
double nearest_value(const Volume &vol, double x, double y, double z, double background) {
  int32_t i, j, k;
  if (!nearest_index(x, vol.dim0, &i) || !nearest_index(y, vol.dim1, &j) ||
      !nearest_index(z, vol.dim2, &k)) {
    return background;
  }
  return vol.real(Voxel::at(vol.data[k], vol.element(i, j)), k);
}

// The bilinear value of plane k, scaled: the four corners are fetched in
// the order e00, e10, e01, e11.
template <class Voxel>
double bilinear_plane(const Volume &vol, int32_t k, std::ptrdiff_t e00, const TrilinearAxis &ax,
                      const TrilinearAxis &ay) {
  const void *plane = vol.data[k];
  const std::ptrdiff_t e10 = e00 + ax.step;
  const std::ptrdiff_t e01 = e00 + static_cast<std::ptrdiff_t>(vol.dim0) * ay.step;
  const std::ptrdiff_t e11 = e01 + ax.step;
  const double v00 = Voxel::at(plane, e00);
  const double v10 = Voxel::at(plane, e10);
  const double v01 = Voxel::at(plane, e01);
  const double v11 = Voxel::at(plane, e11);
  const double r0 = (1.0 - ax.t) * v00 + ax.t * v10;
  const double r1 = (1.0 - ax.t) * v01 + ax.t * v11;
  return ((1.0 - ay.t) * r0 + ay.t * r1) * vol.scale[k] + vol.offset[k];
}

template <class Voxel>
double trilinear_value(const Volume &vol, double x, double y, double z, double background) {
  const double cx = x - 1.0;
  const double cy = y - 1.0;
  const double cz = z - 1.0;
  if (!trilinear_inside(cz, vol.dim2) || !trilinear_inside(cy, vol.dim1) ||
      !trilinear_inside(cx, vol.dim0)) {
    return background;
  }
  const TrilinearAxis ax = trilinear_axis(cx, vol.dim0);
  const TrilinearAxis ay = trilinear_axis(cy, vol.dim1);
  const TrilinearAxis az = trilinear_axis(cz, vol.dim2);
  const std::ptrdiff_t e00 = vol.element(ax.base, ay.base);
  const double p0 = bilinear_plane<Voxel>(vol, az.base, e00, ax, ay);
  const double p1 = bilinear_plane<Voxel>(vol, az.base + az.step, e00, ax, ay);
  return (1.0 - az.t) * p0 + az.t * p1;
}

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

template <class Voxel>
double lookup_value(const Volume &vol, LookupBuilder build, int32_t q, WeightTables &tables,
                    double x, double y, double z, double background) {
  if (!lookup_inside(z, vol.dim2) || !lookup_inside(y, vol.dim1) || !lookup_inside(x, vol.dim0)) {
    return background;
  }
  const AxisRun rx = build_run(build, q, vol.dim0, tables.tablex, x);
  const AxisRun ry = build_run(build, q, vol.dim1, tables.tabley, y);
  const AxisRun rz = build_run(build, q, vol.dim2, tables.tablez, z);
  return lookup_sum<Voxel>(vol, rx, ry, rz);
}

// The scaled copy of one plane of count elements, in storage order.
template <class Voxel>
void copy_plane(double *image, const void *plane, std::ptrdiff_t count, double scale, double offset) {
  for (std::ptrdiff_t e = 0; e < count; ++e) image[e] = Voxel::at(plane, e) * scale + offset;
}

}  // namespace volaccess

#endif
