// Requests of many samples: the kernels take them in blocks, reuse a run
// of weights when a coordinate repeats, walk slices ahead of the sampling,
// and plan on whichever instruction set the machine has. None of that may
// change a bit of any result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "unit_table.h"
#include "vector_paths.h"

namespace {

using kernels_test::TestVolume;
using kernels_test::unit_named;

// A rough field, so that every weight and every voxel matters.
// Positive and below 65536, so that every encoding holds it.
double field(int i, int j, int k) {
  return 600.0 + std::sin(i * 0.7) * 300.0 + j * 13.0 - k * k * 3.0 + (i * j) % 7;
}

TestVolume field_volume(const char *suffix) {
  TestVolume vol(unit_named(suffix), 19, 14, 9, field);
  vol.set_plane_scaling(3, 0.25, -4.0);
  return vol;
}

struct Points {
  std::vector<double> x, y, z;
};

// 111 points, not a whole number of blocks: a grid whose y and z repeat
// along its rows and whose x repeats from row to row, then points at and
// beyond the rims.
Points grid_and_rims() {
  Points p;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) {
      for (int i = 0; i < 8; ++i) {
        p.x.push_back(0.96 + 2.3 * i);
        p.y.push_back(1.0 + 3.1 * j);
        p.z.push_back(1.5 + 3.25 * k);
      }
    }
  }
  const double rims[] = {0.94, 0.95,    0.951, 1.0, 2.0000004, 9.05,
                         9.06, 14.0499, 19.05, NAN, -1e300,    3e9};
  for (int n = 0; n < 15; ++n) {
    p.x.push_back(rims[n % 12]);
    p.y.push_back(rims[(n * 5 + 3) % 12] < 0.96 ? 2.5 : 4.75);
    p.z.push_back(rims[(n * 7 + 1) % 12] > 9.0 ? 8.0 : 1.25 + 0.5 * n);
  }
  return p;
}

struct Samples {
  std::vector<double> value, gx, gy, gz;
};

// All points in one call, or one call per point.
Samples sample_all(TestVolume &vol, const Points &p, int32_t hold, bool one_call) {
  const std::size_t n = p.x.size();
  Samples s{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n),
            std::vector<double>(n)};
  const VolumeMap map = vol.map();
  const std::size_t calls = one_call ? 1 : n;
  const auto m = static_cast<int32_t>(n / calls);
  for (std::size_t c = 0; c < calls; ++c) {
    const std::size_t at = c * static_cast<std::size_t>(m);
    EXPECT_EQ(resample(m, &map, &s.value[at], &p.x[at], &p.y[at], &p.z[at], hold, -3.0), 0);
    std::vector<double> value(static_cast<std::size_t>(m));
    EXPECT_EQ(resample_d(m, &map, value.data(), &s.gx[at], &s.gy[at], &s.gz[at], &p.x[at], &p.y[at],
                         &p.z[at], hold, -3.0),
              0);
  }
  return s;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Blocks, ManyPointsInOneCallMatchOnePointPerCall) {
  for (const char *suffix : {"short", "float_s", "uint64"}) {
    TestVolume vol = field_volume(suffix);
    const Points p = grid_and_rims();
    for (int32_t hold : {0, 1, 2, 3, 5, -1, -3, -4}) {
      const Samples together = sample_all(vol, p, hold, true);
      const Samples apart = sample_all(vol, p, hold, false);
      EXPECT_TRUE(same_bits(together.value, apart.value)) << suffix << " hold " << hold;
      EXPECT_TRUE(same_bits(together.gx, apart.gx)) << suffix << " hold " << hold;
      EXPECT_TRUE(same_bits(together.gy, apart.gy)) << suffix << " hold " << hold;
      EXPECT_TRUE(same_bits(together.gz, apart.gz)) << suffix << " hold " << hold;
    }
  }
}

// A block's runs are built before any of its samples is summed, and a
// repeated coordinate takes the run built for an earlier sample, perhaps
// of an earlier block: runs of one point repeated across three blocks,
// then two points taking turns, then the second alone.
Points repeats_across_blocks() {
  Points p;
  for (int n = 0; n < 140; ++n) {
    const bool second = n >= 110 || (n >= 70 && n % 2 != 0);
    p.x.push_back(second ? 17.25 : 3.4);
    p.y.push_back(second ? 2.0 : 7.7);
    p.z.push_back(second ? 8.9 : 1.3);
  }
  return p;
}

TEST(Blocks, RunsReusedAcrossBlocksKeepTheirWeights) {
  TestVolume vol = field_volume("short");
  const Points p = repeats_across_blocks();
  // Stencils of 3 to 21 nodes: the longest are cut at every rim.
  for (int32_t hold : {2, 3, 12, 20, -3, -12}) {
    const Samples together = sample_all(vol, p, hold, true);
    const Samples apart = sample_all(vol, p, hold, false);
    EXPECT_TRUE(same_bits(together.value, apart.value)) << "hold " << hold;
    EXPECT_TRUE(same_bits(together.gx, apart.gx)) << "hold " << hold;
    EXPECT_TRUE(same_bits(together.gy, apart.gy)) << "hold " << hold;
    EXPECT_TRUE(same_bits(together.gz, apart.gz)) << "hold " << hold;
  }
}

// W = 5 - 2.5 j + 0.125 i: zero at pixel (20, 3), well past the first
// block of the walk, in rows of 25 (handed out in pixel order, several rows
// to a block) and of 70 (handed out a block of columns of each row in
// turn). Every pixel before it is written, none from it on.
TEST(Blocks, SliceStopsAtZeroWBeyondTheFirstBlocks) {
  TestVolume vol = field_volume("short");
  const VolumeMap map = vol.map();
  const double mat[16] = {0.3, 0.3, 0.1, 0.125, 0.2, 0.35, 0.1, -2.5,
                          0,   0,   1,   0,     0.1, 0.2,  0.3, 5.0};
  for (int32_t width : {25, 70}) {
    const auto stop = static_cast<std::size_t>(2 * width + 19);
    for (int32_t hold : {0, 1, -3}) {
      std::vector<double> image(static_cast<std::size_t>(width) * 41, 12345.0);
      EXPECT_EQ(slice(mat, image.data(), width, 41, &map, hold, -3.0), -1);
      std::vector<double> two_rows(static_cast<std::size_t>(width) * 2, 12345.0);
      EXPECT_EQ(slice(mat, two_rows.data(), width, 2, &map, hold, -3.0), 0);
      EXPECT_EQ(std::memcmp(image.data(), two_rows.data(), two_rows.size() * sizeof(double)), 0);
      for (std::size_t e = two_rows.size(); e < stop; ++e) EXPECT_NE(image[e], 12345.0) << e;
      for (std::size_t e = stop; e < image.size(); ++e) EXPECT_EQ(image[e], 12345.0) << e;
    }
  }
}

TEST(VectorPaths, BaselineIsAlwaysAvailableAndCanBeForced) {
  EXPECT_TRUE(volaccess::vector_path_available(volaccess::VectorPath::kBaseline));
  ASSERT_TRUE(volaccess::force_vector_path(volaccess::VectorPath::kBaseline));
  EXPECT_STREQ(volaccess::plan_kernels().name, "baseline");
  volaccess::choose_best_vector_path();
}

TEST(VectorPaths, UnavailablePathIsRefusedAndLeavesTheChoice) {
  volaccess::choose_best_vector_path();
  const char *best = volaccess::plan_kernels().name;
  for (volaccess::VectorPath path :
       {volaccess::VectorPath::kAvx2, volaccess::VectorPath::kAvx512}) {
    if (volaccess::vector_path_available(path)) continue;
    EXPECT_FALSE(volaccess::force_vector_path(path));
    EXPECT_STREQ(volaccess::plan_kernels().name, best);
  }
}

// Slices and points of every kernel on each path this machine has give
// the baseline's bits.
TEST(VectorPaths, EveryAvailablePathGivesTheBaselineBits) {
  TestVolume vol = field_volume("ushort_s");
  const VolumeMap map = vol.map();
  const Points p = grid_and_rims();
  const double tilt[16] = {0.43, 0.21, 0.37, 0.001, -0.18, 0.38, 0.11, 0.0,
                           0,    0,    1,    0,     0.4,   -0.3, 0.7,  1};
  auto run = [&] {
    std::vector<double> all;
    for (int32_t hold : {0, 1, 3, -3}) {
      const Samples s = sample_all(vol, p, hold, true);
      for (const auto *v : {&s.value, &s.gx, &s.gy, &s.gz})
        all.insert(all.end(), v->begin(), v->end());
      std::vector<double> image(47 * 33);
      EXPECT_EQ(slice(tilt, image.data(), 47, 33, &map, hold, -3.0), 0);
      all.insert(all.end(), image.begin(), image.end());
    }
    return all;
  };
  ASSERT_TRUE(volaccess::force_vector_path(volaccess::VectorPath::kBaseline));
  const std::vector<double> baseline = run();
  for (volaccess::VectorPath path :
       {volaccess::VectorPath::kAvx2, volaccess::VectorPath::kAvx512}) {
    if (!volaccess::force_vector_path(path)) continue;
    EXPECT_TRUE(same_bits(run(), baseline)) << volaccess::plan_kernels().name;
  }
  volaccess::choose_best_vector_path();
}

// Points spread over [0.9, dim + 0.1] on every axis, some 0.04 beyond the
// last voxel centre along x (where the cell has no upper x neighbour), in
// a count that is not a whole number of blocks or vector lanes.
Points spread_points(const TestVolume &vol) {
  Points p;
  uint32_t state = 2024;
  auto next = [&state](int32_t dim) {
    state = state * 1664525u + 1013904223u;
    return 0.9 + (dim - 0.8) * static_cast<double>(state >> 8) / 16777216.0;
  };
  for (int n = 0; n < 203; ++n) {
    p.x.push_back(n % 5 == 0 ? vol.dim(0) + 0.04 : next(vol.dim(0)));
    p.y.push_back(next(vol.dim(1)));
    p.z.push_back(next(vol.dim(2)));
  }
  return p;
}

// Trilinear values and gradients of the points, then a tilted slice, all
// through one record.
std::vector<double> trilinear_results(const VolumeMap &map, const Points &p) {
  const auto n = static_cast<int32_t>(p.x.size());
  std::vector<double> all(5 * p.x.size());
  double *value = all.data();
  EXPECT_EQ(resample(n, &map, value, p.x.data(), p.y.data(), p.z.data(), 1, -3.0), 0);
  EXPECT_EQ(resample_d(n, &map, value + n, value + 2 * n, value + 3 * n, value + 4 * n, p.x.data(),
                       p.y.data(), p.z.data(), 1, -3.0),
            0);
  const double tilt[16] = {0.43, 0.21, 0.37, 0.001, -0.18, 0.38, 0.11, 0.0,
                           0,    0,    1,    0,     0.4,   -0.3, 0.7,  1};
  std::vector<double> image(37 * 29);
  EXPECT_EQ(slice(tilt, image.data(), 37, 29, &map, 1, -3.0), 0);
  all.insert(all.end(), image.begin(), image.end());
  return all;
}

// 16-bit voxels and floats in the machine's order are read two to a word
// on wide paths: signed values below zero, unsigned ones above 32767, rows
// of one voxel (every cell at the upper rim), one plane, scalings shared or
// per plane, and planes apart or lying evenly in one buffer, upward or
// downward, all against the baseline's bits.
TEST(VectorPaths, PairedCornersGiveTheBaselineBits) {
  struct Case {
    const char *suffix;
    double shift;
    int32_t dim0, dim1, dim2;
    bool per_plane;
  };
  const Case cases[] = {
      {"short", -1500.0, 19, 14, 9, true},  {"short", -1500.0, 19, 14, 9, false},
      {"ushort", 40000.0, 19, 14, 9, true}, {"ushort", 40000.0, 2, 3, 1, false},
      {"short", -1500.0, 1, 6, 4, true},    {"ushort_s", 40000.0, 19, 14, 9, true},
      {"float", -1500.25, 19, 14, 9, true}, {"float", -1500.25, 19, 14, 9, false},
      {"float", 0.125, 1, 6, 4, true},      {"float_s", -1500.25, 19, 14, 9, true},
  };
  for (const Case &c : cases) {
    TestVolume vol(unit_named(c.suffix), c.dim0, c.dim1, c.dim2,
                   [&c](int i, int j, int k) { return field(i, j, k) + c.shift; });
    if (c.per_plane) vol.set_plane_scaling(c.dim2 - 1, 0.25, -4.0);
    const VolumeMap apart = vol.map();
    // The same planes copied into one buffer, one after another upward
    // and downward.
    const std::size_t plane_bytes =
        static_cast<std::size_t>(c.dim0) * c.dim1 * unit_named(c.suffix).size;
    std::vector<unsigned char> buffer(plane_bytes * c.dim2);
    std::vector<void *> upward, downward;
    for (int32_t k = 0; k < c.dim2; ++k) {
      unsigned char *up = buffer.data() + plane_bytes * k;
      std::memcpy(up, vol.data()[k], plane_bytes);
      upward.push_back(up);
    }
    std::vector<unsigned char> reversed(buffer.size());
    for (int32_t k = 0; k < c.dim2; ++k) {
      unsigned char *down = reversed.data() + plane_bytes * (c.dim2 - 1 - k);
      std::memcpy(down, vol.data()[k], plane_bytes);
      downward.push_back(down);
    }
    const auto on = [&apart](std::vector<void *> &planes) {
      VolumeMap record = apart;
      record.data = planes.data();
      return record;
    };
    const std::pair<const char *, VolumeMap> layouts[] = {
        {"apart", apart}, {"upward", on(upward)}, {"downward", on(downward)}};
    const Points p = spread_points(vol);
    for (const auto &[layout, map] : layouts) {
      ASSERT_TRUE(volaccess::force_vector_path(volaccess::VectorPath::kBaseline));
      const std::vector<double> baseline = trilinear_results(map, p);
      for (volaccess::VectorPath path :
           {volaccess::VectorPath::kAvx2, volaccess::VectorPath::kAvx512}) {
        if (!volaccess::force_vector_path(path)) continue;
        EXPECT_TRUE(same_bits(trilinear_results(map, p), baseline))
            << c.suffix << " " << c.dim0 << "x" << c.dim1 << "x" << c.dim2 << " " << layout
            << " on " << volaccess::plan_kernels().name;
      }
      volaccess::choose_best_vector_path();
    }
  }
}

}  // namespace
