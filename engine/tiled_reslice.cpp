#include "tiled_reslice.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "errors.h"

namespace vaeng {

namespace {

// A slab of planes holds at most this many voxels (64 MB of doubles)
// unless one plane alone is larger.
constexpr int64_t kSlabVoxels = int64_t{1} << 23;

// One thread's buffers for one plane of a tile.
struct TileBuffers {
  std::vector<double> x, y, z, values;
  explicit TileBuffers(std::size_t n) : x(n), y(n), z(n), values(n) {}
};

// Copies n values into a row of the slab with stores that bypass the
// cache: the slab is far larger than the cache and is not read again
// before it is whole, so fetching its lines first would only double the
// memory traffic.
void stream_row(double *to, const double *from, int64_t n) {
  int64_t a = 0;
  for (; a < n && reinterpret_cast<uintptr_t>(to + a) % 16 != 0; ++a) to[a] = from[a];
  for (; a + 2 <= n; a += 2) _mm_stream_pd(to + a, _mm_loadu_pd(from + a));
  for (; a < n; ++a) to[a] = from[a];
}

// Samples every plane of the tile and streams its rows into the slab,
// whose first plane is k0.
void resample_tile(const Tile &tile, const GridSize &grid, int64_t k0, const PointMap &points,
                   const PointSampler &sampler, TileBuffers &b, double *values) {
  const auto n = static_cast<int32_t>(tile.ni * tile.nj);
  for (int64_t k = tile.k0; k < tile.k0 + tile.nk; ++k) {
    const Tile plane{tile.i0, tile.j0, k, tile.ni, tile.nj, 1};
    points(plane, b.x.data(), b.y.data(), b.z.data());
    sampler(n, b.x.data(), b.y.data(), b.z.data(), b.values.data());
    for (int64_t r = 0; r < tile.nj; ++r) {
      const int64_t at = tile.i0 + grid.nx * ((tile.j0 + r) + grid.ny * (k - k0));
      stream_row(values + at, b.values.data() + r * tile.ni, tile.ni);
    }
  }
  // Streamed stores are ordered only by a fence: the rows are in the slab
  // before the worker reports the tile done.
  _mm_sfence();
}

// One row of na points: coordinate c of point a is ((ci[c][a] + cj[c]) +
// ck[c]) + t[c].
using AffineRow = void (*)(const double (*ci)[kTileX], const double *cj, const double *ck, const double *t, int64_t na,
                           double *x, double *y, double *z);

template <int kVariant>
void affine_row_body(const double (*ci)[kTileX], const double *cj, const double *ck, const double *t, int64_t na,
                     double *__restrict x, double *__restrict y, double *__restrict z) {
  for (int64_t a = 0; a < na; ++a) {
    x[a] = ((ci[0][a] + cj[0]) + ck[0]) + t[0];
    y[a] = ((ci[1][a] + cj[1]) + ck[1]) + t[1];
    z[a] = ((ci[2][a] + cj[2]) + ck[2]) + t[2];
  }
}

// The same sums compiled for wider vector units, which give the same bits
// in every lane width; chosen once, by what the processor has.
__attribute__((target("avx512f"))) void affine_row_avx512(const double (*ci)[kTileX], const double *cj,
                                                          const double *ck, const double *t, int64_t na, double *x,
                                                          double *y, double *z) {
  affine_row_body<512>(ci, cj, ck, t, na, x, y, z);
}

__attribute__((target("avx2"))) void affine_row_avx2(const double (*ci)[kTileX], const double *cj, const double *ck,
                                                     const double *t, int64_t na, double *x, double *y, double *z) {
  affine_row_body<256>(ci, cj, ck, t, na, x, y, z);
}

AffineRow choose_affine_row() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return affine_row_avx512;
  if (__builtin_cpu_supports("avx2")) return affine_row_avx2;
  return affine_row_body<0>;
}

}  // namespace

PointMap affine_points(const Mat4 &m) {
  return [m](const Tile &plane, double *x, double *y, double *z) {
    // Each product depends on one index alone: the products of kTileX
    // columns, of a row and of the plane are formed once and summed per
    // voxel in the same order, which gives the same bits for a third of
    // the work.
    const auto k = static_cast<double>(plane.k0 + 1);
    const double ck[3] = {m[8] * k, m[9] * k, m[10] * k};
    const double t[3] = {m[12], m[13], m[14]};
    static const AffineRow affine_row = choose_affine_row();
    for (int64_t a0 = 0; a0 < plane.ni; a0 += kTileX) {
      const int64_t na = std::min(kTileX, plane.ni - a0);
      double ci[3][kTileX];
      for (int64_t a = 0; a < na; ++a) {
        const auto i = static_cast<double>(plane.i0 + a0 + a + 1);
        for (int c = 0; c < 3; ++c) ci[c][a] = m[c] * i;
      }
      for (int64_t b = 0; b < plane.nj; ++b) {
        const auto j = static_cast<double>(plane.j0 + b + 1);
        const double cj[3] = {m[4] * j, m[5] * j, m[6] * j};
        const auto row = static_cast<std::size_t>(a0 + plane.ni * b);
        affine_row(ci, cj, ck, t, na, x + row, y + row, z + row);
      }
    }
  };
}

PointSampler volume_sampler(const VolumeMapping &volume, int32_t hold, double background) {
  return [&volume, hold, background](int32_t n, const double *x, const double *y, const double *z, double *values) {
    if (resample(n, &volume.map(), values, x, y, z, hold, background) != 0)
      fail(volume.name(), "the volume library does not know its datatype");
  };
}

std::vector<Tile> slab_tiles(const GridSize &grid, int64_t k0, int64_t nk) {
  std::vector<Tile> tiles;
  for (int64_t j0 = 0; j0 < grid.ny; j0 += kTileY) {
    for (int64_t i0 = 0; i0 < grid.nx; i0 += kTileX) {
      tiles.push_back(Tile{i0, j0, k0, std::min(kTileX, grid.nx - i0), std::min(kTileY, grid.ny - j0), nk});
    }
  }
  return tiles;
}

void reslice_slab(const Workers &workers, const GridSize &grid, int64_t k0, int64_t nk, const PointMap &points,
                  const PointSampler &sampler, double *values) {
  const std::vector<Tile> tiles = slab_tiles(grid, k0, nk);
  workers.for_each(static_cast<int64_t>(tiles.size()), 1, [&](int64_t first, int64_t end) {
    TileBuffers buffers(static_cast<std::size_t>(kTileX * kTileY));
    for (int64_t t = first; t < end; ++t) {
      resample_tile(tiles[static_cast<std::size_t>(t)], grid, k0, points, sampler, buffers, values);
    }
  });
}

int64_t slab_planes(const GridSize &grid) {
  const int64_t plane = std::max<int64_t>(grid.nx * grid.ny, 1);
  return std::clamp<int64_t>(kSlabVoxels / plane, 1, kTileZ);
}

void reslice_grid(const Workers &workers, const GridSize &grid, const PointMap &points, const PointSampler &sampler,
                  const std::function<void(int64_t k, const double *plane)> &take_plane) {
  const int64_t depth = slab_planes(grid);
  const auto plane = static_cast<std::size_t>(grid.nx * grid.ny);
  std::vector<double> slab(plane * static_cast<std::size_t>(std::min(depth, grid.nz)));
  for (int64_t k0 = 0; k0 < grid.nz; k0 += depth) {
    const int64_t nk = std::min(depth, grid.nz - k0);
    reslice_slab(workers, grid, k0, nk, points, sampler, slab.data());
    for (int64_t k = 0; k < nk; ++k) take_plane(k0 + k, slab.data() + plane * static_cast<std::size_t>(k));
  }
}

}  // namespace vaeng
