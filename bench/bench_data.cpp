#include "bench_data.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace bench {
namespace {

constexpr double kPi = 3.141592653589793;

class Sequence {
 public:
  explicit Sequence(uint64_t seed) : state_(seed) {}
  // Uniform in [0, 1).
  double uniform() {
    state_ = state_ * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>(state_ >> 11) / 9007199254740992.0;
  }

 private:
  uint64_t state_;
};

std::vector<int16_t> make_volume() {
  std::vector<int16_t> v(static_cast<std::size_t>(kSide) * kSide * kSide);
  Sequence noise(20260101);
  std::size_t e = 0;
  for (int32_t k = 0; k < kSide; ++k) {
    for (int32_t j = 0; j < kSide; ++j) {
      for (int32_t i = 0; i < kSide; ++i) {
        const double smooth = 8000.0 * std::sin(i * 0.05) * std::cos(j * 0.04) + 4000.0 * std::sin(k * 0.03 + j * 0.01);
        v[e++] = static_cast<int16_t>(std::lround(smooth + 400.0 * (noise.uniform() - 0.5)));
      }
    }
  }
  return v;
}

PointSet make_random_points() {
  PointSet p;
  Sequence seq(987654321);
  for (int32_t n = 0; n < kPoints; ++n) {
    p.x.push_back(1.0 + seq.uniform() * (kSide - 1));
    p.y.push_back(1.0 + seq.uniform() * (kSide - 1));
    p.z.push_back(1.0 + seq.uniform() * (kSide - 1));
  }
  return p;
}

// 250 x 80 x 50 points, x fastest, spread over the whole volume.
PointSet make_row_points() {
  PointSet p;
  const double span = kSide - 1.5;
  for (int32_t k = 0; k < 50; ++k) {
    for (int32_t j = 0; j < 80; ++j) {
      for (int32_t i = 0; i < 250; ++i) {
        p.x.push_back(1.25 + span * i / 250.0);
        p.y.push_back(1.25 + span * j / 80.0);
        p.z.push_back(1.25 + span * k / 50.0);
      }
    }
  }
  return p;
}

// Ry(30) * Rx(30) about the centre (128.5, 128.5, 128.5) of 1-based voxels.
std::array<double, 16> make_rotation() {
  const double a = 30.0 * kPi / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  const double ry[3][3] = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
  const double rx[3][3] = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
  double r[3][3];
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      r[row][col] = 0.0;
      for (int n = 0; n < 3; ++n) r[row][col] += ry[row][n] * rx[n][col];
    }
  }
  const double centre = (kSide + 1) / 2.0;
  std::array<double, 16> m{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) m[row + 4 * col] = r[row][col];
    m[row + 12] = centre - (r[row][0] + r[row][1] + r[row][2]) * centre;
  }
  m[15] = 1.0;
  return m;
}

void write_file(const std::string &path, const void *bytes, std::size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  const bool ok = std::fwrite(bytes, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

void write_points(const PointSet &p, const std::string &path) {
  std::vector<double> all(p.x);
  all.insert(all.end(), p.y.begin(), p.y.end());
  all.insert(all.end(), p.z.begin(), p.z.end());
  write_file(path, all.data(), all.size() * sizeof(double));
}

}  // namespace

BenchData make_bench_data() {
  return BenchData{make_volume(), make_random_points(), make_row_points(), make_rotation()};
}

std::array<double, 16> plane_transform(const std::array<double, 16> &rotation, int32_t k) {
  std::array<double, 16> m = rotation;
  for (int row = 0; row < 4; ++row) m[row + 12] = rotation[row + 12] + rotation[row + 8] * k;
  return m;
}

void write_bench_data(const BenchData &data, const std::string &dir) {
  write_file(dir + "/volume.i16", data.voxels.data(), data.voxels.size() * sizeof(int16_t));
  write_points(data.random, dir + "/random.f64");
  write_points(data.rows, dir + "/rows.f64");
  std::array<double, 16> rows{};
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) rows[4 * row + col] = data.rotation[row + 4 * col];
  }
  write_file(dir + "/rotation.f64", rows.data(), sizeof rows);
}

}  // namespace bench
