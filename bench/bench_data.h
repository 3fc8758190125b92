// The data of the side-by-side comparison, generated deterministically so
// that every peer samples exactly the same volume at exactly the same
// points: a 256^3 signed 16-bit volume (a smooth field plus noise), a
// million uniform random points, a million points in row order, and the
// rotation Ry(30 deg) * Rx(30 deg) about the volume's centre.
#ifndef BENCH_BENCH_DATA_H
#define BENCH_BENCH_DATA_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr int32_t kSide = 256;
constexpr int32_t kPoints = 1000000;

// Points in 1-based voxel coordinates, one array per axis.
struct PointSet {
  std::vector<double> x, y, z;
};

struct BenchData {
  std::vector<int16_t> voxels;  // x fastest, then y, then z
  PointSet random;
  PointSet rows;
  // 1-based output voxel (i, j, k, 1) to 1-based source voxel, column-major.
  std::array<double, 16> rotation;
};

BenchData make_bench_data();

// The transform of one output plane k (from 1) of the rotated volume:
// pixel (i, j, 0, 1) to source voxel, column-major, as the slice call takes it.
std::array<double, 16> plane_transform(const std::array<double, 16> &rotation, int32_t k);

// Writes the volume and both point sets as raw little-endian arrays
// (volume.i16, random.f64, rows.f64 with x, y, z one after another, and
// rotation.f64 row-major) for the scripted peers.
void write_bench_data(const BenchData &data, const std::string &dir);

}  // namespace bench

#endif
