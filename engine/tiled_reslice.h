// Reslicing in tiles. Every output voxel samples the source at its own
// point, worked out from its own indices alone, so neither the tiling,
// nor the number of threads, nor the order in which tiles finish can
// change a bit of the result. Tiles are small boxes of the output whose
// source footprint stays in cache, shared among the threads.
#ifndef VOLACCESS_ENGINE_TILED_RESLICE_H
#define VOLACCESS_ENGINE_TILED_RESLICE_H

#include <cstdint>
#include <functional>
#include <vector>

#include "matrix.h"
#include "volume_description.h"
#include "workers.h"

namespace vaeng {

// The voxel counts of an output grid along x (fastest), y and z.
struct GridSize {
  int64_t nx = 0;
  int64_t ny = 0;
  int64_t nz = 0;
};

// A box of output voxels: the 0-based indices of its first voxel and its
// extent along each axis.
struct Tile {
  int64_t i0 = 0, j0 = 0, k0 = 0;
  int64_t ni = 0, nj = 0, nk = 0;
};

// The largest tile: 64 x 16 output voxels a plane, 16 planes deep. Under
// a rotation its source footprint (some 50k voxels) stays in cache from
// one plane of the tile to the next.
constexpr int64_t kTileX = 64;
constexpr int64_t kTileY = 16;
constexpr int64_t kTileZ = 16;

// The source points of the voxels of a one-plane tile (nk = 1), 1-based
// source voxel coordinates, i fastest: point (a, b) of the tile goes to
// x[a + ni * b], y[...] and z[...].
using PointMap = std::function<void(const Tile &plane, double *x, double *y, double *z)>;

// The values of the source at n points, into values.
using PointSampler = std::function<void(int32_t n, const double *x, const double *y, const double *z, double *values)>;

// Output voxel (i, j, k), counted from 1, samples the source at M * (i, j,
// k, 1): x = ((M00 i + M01 j) + M02 k) + M03, and y and z alike, each
// product and sum rounded on its own in this order.
PointMap affine_points(const Mat4 &m);

// Samples `volume` through the library's resample() with `hold` and
// `background`. `volume` must outlive the sampler.
PointSampler volume_sampler(const VolumeMapping &volume, int32_t hold, double background);

// The tiles of planes [k0, k0 + nk) of the grid, each at most
// kTileX x kTileY x nk voxels, x fastest, then y.
std::vector<Tile> slab_tiles(const GridSize &grid, int64_t k0, int64_t nk);

// Resamples planes [k0, k0 + nk) of the grid into values (nx * ny * nk
// doubles, x fastest, then y, then z), the tiles shared among the workers.
void reslice_slab(const Workers &workers, const GridSize &grid, int64_t k0, int64_t nk, const PointMap &points,
                  const PointSampler &sampler, double *values);

// The number of planes resampled together: kTileZ, fewer for planes so
// large that a slab of them would take much memory, at least 1.
int64_t slab_planes(const GridSize &grid);

// Resamples the whole grid slab by slab and hands each plane (nx * ny
// values, x fastest) to take_plane, in order from the first; plane k
// (from 0) comes with its index.
void reslice_grid(const Workers &workers, const GridSize &grid, const PointMap &points, const PointSampler &sampler,
                  const std::function<void(int64_t k, const double *plane)> &take_plane);

}  // namespace vaeng

#endif
