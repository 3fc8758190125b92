// Slices: the in-plane shortcut and its boundaries, the pixel walk with
// its zero-W status, empty images, non-finite transforms, and the rims of
// the three kernels.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "unit_table.h"

namespace {

using kernels_test::bits;
using kernels_test::TestVolume;
using kernels_test::unit_named;
using kernels_test::within_one_ulp;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kBackground = -7.0;
constexpr double kUnwritten = 12345.0;

using Matrix = std::array<double, 16>;

// Pixel (i, j) to voxel (i + dx, j + dy, z), column-major.
Matrix translation(double dx, double dy, double z) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, dx, dy, z, 1};
}

double ramp(int i, int j, int k) { return i + 10.0 * j + 100.0 * k; }

// A 4 x 3 x 5 ramp with plane 2 (0-based) scaled by 0.5 and offset by 2.
TestVolume ramp_volume(const char *suffix = "short") {
  TestVolume vol(unit_named(suffix), 4, 3, 5, ramp);
  vol.set_plane_scaling(2, 0.5, 2.0);
  return vol;
}

struct Slice {
  int32_t status;
  std::vector<double> image;
};

// Through the type unit's entry, or one of its kernels (kernel 0, 1, or
// the lookup kernel with q = kernel - 1 for kernel >= 3).
Slice run_slice(TestVolume &vol, const Matrix &m, int32_t xdim1, int32_t ydim1, int32_t hold,
                const char *suffix = "short") {
  Slice s;
  s.image.assign(static_cast<std::size_t>(std::max(xdim1, 0) * std::max(ydim1, 0)) + 1, kUnwritten);
  s.status = unit_named(suffix).slice(m.data(), s.image.data(), xdim1, ydim1, vol.data(),
                                      vol.dim(0), vol.dim(1), vol.dim(2), hold, kBackground,
                                      vol.scale(), vol.offset());
  return s;
}

Slice run_kernel(TestVolume &vol, const Matrix &m, int32_t xdim1, int32_t ydim1, int kernel,
                 const char *suffix = "short") {
  const kernels_test::Unit &unit = unit_named(suffix);
  Slice s;
  s.image.assign(static_cast<std::size_t>(std::max(xdim1, 0) * std::max(ydim1, 0)) + 1, kUnwritten);
  const int32_t d0 = vol.dim(0), d1 = vol.dim(1), d2 = vol.dim(2);
  if (kernel == 0) {
    s.status = unit.slice_0(m.data(), s.image.data(), xdim1, ydim1, vol.data(), d0, d1, d2,
                            kBackground, vol.scale(), vol.offset());
  } else if (kernel == 1) {
    s.status = unit.slice_1(m.data(), s.image.data(), xdim1, ydim1, vol.data(), d0, d1, d2,
                            kBackground, vol.scale(), vol.offset());
  } else {
    s.status = unit.slice_poly(m.data(), s.image.data(), xdim1, ydim1, vol.data(), d0, d1, d2,
                               kernel - 1, kBackground, vol.scale(), vol.offset());
  }
  return s;
}

// The scaled plane k (0-based) of the ramp volume, in storage order.
std::vector<double> plane_of(TestVolume &vol, int k) {
  std::vector<double> plane;
  for (int j = 0; j < vol.dim(1); ++j) {
    for (int i = 0; i < vol.dim(0); ++i) {
      plane.push_back(ramp(i, j, k) * vol.scale()[k] + vol.offset()[k]);
    }
  }
  return plane;
}

void expect_image(const Slice &s, const std::vector<double> &expected) {
  for (std::size_t e = 0; e < expected.size(); ++e) {
    EXPECT_EQ(bits(s.image[e]), bits(expected[e])) << "pixel " << e << ": " << s.image[e];
  }
  EXPECT_EQ(s.image[expected.size()], kUnwritten);
}

// The ramp in doubles with NaN voxels placed so that any trilinear
// sample at a pixel's whole-number coordinates reads one: voxel (1, 0) of
// every plane and voxel (0, 0) of planes 1 and 3. A copied plane shows NaN
// only where its own voxels are NaN, so pixel (1, 1) tells a copy (finite)
// from a sample (NaN).
TestVolume sentinel_volume() {
  TestVolume vol(unit_named("double"), 4, 3, 5, [](int i, int j, int k) {
    const bool poisoned = j == 0 && (i == 1 || (i == 0 && (k == 1 || k == 3)));
    return poisoned ? kNaN : ramp(i, j, k);
  });
  vol.set_plane_scaling(2, 0.5, 2.0);
  return vol;
}

// Plane k (counted from 1) as plane_<t> copies it.
std::vector<double> copied_plane(TestVolume &vol, int32_t k) {
  std::vector<double> image(static_cast<std::size_t>(vol.dim(0) * vol.dim(1)));
  unit_named("double").plane(k, image.data(), vol.data(), vol.dim(0), vol.dim(1), vol.scale(),
                             vol.offset());
  return image;
}

TEST(SliceShortcut, IdentityAtAPlaneCopiesItForEveryHoldCode) {
  TestVolume vol = sentinel_volume();
  for (int32_t hold : {0, 1, 2, 5, -1, -7, 300, -300, std::numeric_limits<int32_t>::min()}) {
    const Slice s = run_slice(vol, translation(0, 0, 3), 4, 3, hold, "double");
    EXPECT_EQ(s.status, 0);
    expect_image(s, copied_plane(vol, 3));
  }
  TestVolume shorts = ramp_volume();
  expect_image(run_slice(shorts, translation(0, 0, 3), 4, 3, -1), plane_of(shorts, 2));
}

TEST(SliceShortcut, ToleratesTranslationErrorsBelowOneTenBillionth) {
  TestVolume vol = sentinel_volume();
  expect_image(run_slice(vol, translation(0, 0, 3 + 5e-11), 4, 3, 1, "double"),
               copied_plane(vol, 3));
  EXPECT_TRUE(std::isnan(run_slice(vol, translation(0, 0, 3 + 2e-10), 4, 3, 1, "double").image[0]));
  // Nearest neighbour samples the same plane, voxel for voxel.
  expect_image(run_slice(vol, translation(0, 0, 3 + 2e-10), 4, 3, 0, "double"),
               copied_plane(vol, 3));
}

TEST(SliceShortcut, EveryEntryHasItsTolerance) {
  TestVolume vol = sentinel_volume();
  for (std::size_t e = 0; e < 16; ++e) {
    Matrix m = translation(0, 0, 3);
    m[e] += 5e-11;
    expect_image(run_slice(vol, m, 4, 3, 1, "double"), copied_plane(vol, 3));
    const bool diagonal = e % 5 == 0;
    m[e] += diagonal || e == 14 ? 1e-10 : 2e-10;
    EXPECT_TRUE(std::isnan(run_slice(vol, m, 4, 3, 1, "double").image[0])) << e;
  }
}

TEST(SliceShortcut, NaNEntryFailsTheTest) {
  TestVolume vol = sentinel_volume();
  for (std::size_t e : {0u, 3u, 14u}) {
    Matrix m = translation(0, 0, 3);
    m[e] = kNaN;
    const Slice s = run_slice(vol, m, 4, 3, 0, "double");
    EXPECT_EQ(s.status, 0);
    expect_image(s, std::vector<double>(12, kBackground));
  }
}

TEST(SliceShortcut, RangeIsTestedOnTheTranslationItself) {
  TestVolume vol = sentinel_volume();
  EXPECT_TRUE(std::isnan(run_slice(vol, translation(0, 0, 1 - 5e-11), 4, 3, 1, "double").image[0]));
  expect_image(run_slice(vol, translation(0, 0, 1), 4, 3, 1, "double"), copied_plane(vol, 1));
  expect_image(run_slice(vol, translation(0, 0, 5), 4, 3, 1, "double"), copied_plane(vol, 5));
  EXPECT_TRUE(std::isnan(run_slice(vol, translation(0, 0, 5 + 5e-11), 4, 3, 1, "double").image[0]));
}

TEST(SliceShortcut, SizeOneLargerIsSampledWithTheBackgroundBeyond) {
  TestVolume vol = ramp_volume();
  const Slice s = run_slice(vol, translation(0, 0, 3), 5, 3, 0);
  EXPECT_EQ(s.status, 0);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 5; ++i) {
      const double expected = i == 4 ? kBackground : ramp(i, j, 2) * 0.5 + 2.0;
      EXPECT_EQ(s.image[static_cast<std::size_t>(i + 5 * j)], expected) << i << "," << j;
    }
  }
  const Slice taller = run_slice(vol, translation(0, 0, 3), 4, 4, 0);
  EXPECT_EQ(taller.image[12], kBackground);
  EXPECT_EQ(taller.image[11], ramp(3, 2, 2) * 0.5 + 2.0);
}

TEST(SliceShortcut, PlaneBeyondTheVolumeIsAllBackground) {
  TestVolume vol = ramp_volume();
  const Slice s = run_slice(vol, translation(0, 0, 6), 4, 3, 0);
  EXPECT_EQ(s.status, 0);
  expect_image(s, std::vector<double>(12, kBackground));
}

TEST(SliceShortcut, LeavesTheBuilderChoiceAsItWas) {
  const kernels_test::Unit &unit = unit_named("ushort");
  TestVolume vol(unit, 4, 1, 1, [](int i, int, int) { return 1.0 * i * i; });
  run_slice(vol, translation(0.3, 0, 1), 2, 1, -1, "ushort");  // sampled: chooses the sinc
  const Slice copied = run_slice(vol, translation(0, 0, 1), 4, 1, 2, "ushort");
  EXPECT_EQ(copied.image[2], 4.0);
  const double after_copy = run_kernel(vol, translation(0.8, 0, 1), 1, 1, 3, "ushort").image[0];
  EXPECT_EQ(bits(after_copy), bits(vol.sample(1.8, 1, 1, -1)));
  EXPECT_GT(std::fabs(after_copy - 0.8), 1e-3);
  run_slice(vol, translation(0.3, 0, 1), 2, 1, 2, "ushort");  // sampled: chooses Lagrange
  EXPECT_NEAR(run_kernel(vol, translation(0.8, 0, 1), 1, 1, 3, "ushort").image[0], 0.8, 1e-12);
}

TEST(SliceWalk, ZeroWAtTheFirstPixelStopsAtOnce) {
  TestVolume vol = ramp_volume();
  Matrix m = translation(0, 0, 2.5);
  m[15] = 0;
  for (int kernel : {0, 1, 3, 4}) {
    const Slice s = run_kernel(vol, m, 4, 3, kernel);
    EXPECT_EQ(s.status, -1);
    for (double v : s.image) EXPECT_EQ(v, kUnwritten);
  }
  EXPECT_EQ(run_slice(vol, m, 4, 3, -2).status, -1);
}

TEST(SliceWalk, ZeroWInTheSecondRowKeepsTheEarlierPixels) {
  TestVolume vol = ramp_volume();
  // W = 1.5 j - i: zero first at pixel (3, 2).
  Matrix m = translation(0, 0, 0);
  m[3] = -1;
  m[7] = 1.5;
  m[15] = 0;
  for (int kernel : {0, 1, 3}) {
    const Slice s = run_kernel(vol, m, 4, 3, kernel);
    EXPECT_EQ(s.status, -1);
    for (std::size_t e = 0; e < 6; ++e) EXPECT_NE(s.image[e], kUnwritten) << e;
    for (std::size_t e = 6; e < s.image.size(); ++e) EXPECT_EQ(s.image[e], kUnwritten) << e;
  }
}

TEST(SliceWalk, NegativeZeroWCountsAsZero) {
  TestVolume vol = ramp_volume();
  Matrix m = translation(0, 0, 2);
  m[3] = 0.5;
  m[15] = -0.5;  // W reaches -0.5 + 0.5 = +0 at pixel 1; and -0.0 with the signs swapped
  EXPECT_EQ(run_kernel(vol, m, 2, 2, 0).status, -1);
  m[3] = -0.0;
  m[15] = -0.0;
  EXPECT_EQ(run_kernel(vol, m, 2, 2, 1).status, -1);
}

TEST(SliceWalk, EmptyImageWritesNothingAndSucceeds) {
  TestVolume vol = ramp_volume();
  Matrix m = translation(0, 0, 2);
  m[15] = 0;  // W would be zero: never reached
  for (auto size : std::vector<std::array<int32_t, 2>>{{0, 3}, {4, 0}, {-1, 3}, {4, -5}, {0, 0}}) {
    for (int kernel : {0, 1, 3}) {
      const Slice s = run_kernel(vol, m, size[0], size[1], kernel);
      EXPECT_EQ(s.status, 0);
      for (double v : s.image) EXPECT_EQ(v, kUnwritten);
    }
  }
}

TEST(SliceWalk, StepsAlongTheRowByRepeatedAddition) {
  TestVolume vol(unit_named("double"), 40, 1, 1, [](int i, int, int) { return 1.0 * i; });
  Matrix m = translation(0, 0, 1);
  m[0] = 0.1;  // X = 0.1 + 0.1 + ... rather than i * 0.1
  m[12] = 0.9;
  const Slice s = run_kernel(vol, m, 30, 1, 1, "double");
  double x = (m[8] * 0.0 + m[12]) + 1.0 * m[4];
  for (std::size_t e = 0; e < 30; ++e) {
    x = x + m[0];
    EXPECT_EQ(bits(s.image[e]), bits(x - 1.0)) << e;
  }
}

TEST(SliceWalk, NonFiniteThirdColumnPoisonsItsCoordinate) {
  TestVolume vol = ramp_volume();
  for (std::size_t e : {8u, 9u, 10u}) {
    for (double poison : {kInf, kNaN}) {
      Matrix m = translation(0, 0, 2);
      m[e] = poison;
      for (int kernel : {0, 1, 3}) {
        const Slice s = run_kernel(vol, m, 4, 3, kernel);
        EXPECT_EQ(s.status, 0);
        expect_image(s, std::vector<double>(12, kBackground));
      }
    }
  }
}

TEST(SliceWalk, NaNOrInfiniteWIsNotZero) {
  TestVolume vol = ramp_volume();
  for (double w : {kNaN, kInf}) {
    Matrix m = translation(0, 0, 2);
    m[15] = w;
    for (int kernel : {0, 1, 4}) {
      const Slice s = run_kernel(vol, m, 4, 3, kernel);
      EXPECT_EQ(s.status, 0);
      expect_image(s, std::vector<double>(12, kBackground));
    }
  }
}

TEST(SliceWalk, HugeCoordinatesAreOutside) {
  TestVolume vol = ramp_volume();
  for (double shift : {3e9, -3e9, 1e300, -1e300}) {
    const Slice s = run_kernel(vol, translation(shift, 0, 2), 4, 3, 0);
    expect_image(s, std::vector<double>(12, kBackground));
    expect_image(run_kernel(vol, translation(0, shift, 2), 4, 3, 1),
                 std::vector<double>(12, kBackground));
    expect_image(run_kernel(vol, translation(0, 0, shift), 4, 3, 5),
                 std::vector<double>(12, kBackground));
  }
}

// One pixel at volume coordinates (x, y, z) through a given kernel.
double pixel_at(TestVolume &vol, double x, double y, double z, int kernel,
                const char *suffix = "short") {
  return run_kernel(vol, translation(x - 1, y - 1, z), 1, 1, kernel, suffix).image[0];
}

// Rows are walked several at a time, and wide rows in pieces; every
// pixel must still get the coordinates of its own row's chain of
// additions, divided by its own W.
TEST(SliceWalk, GroupedAndWideRowsKeepEachRowsChain) {
  TestVolume vol(unit_named("double"), 40, 30, 8, [](int i, int j, int k) {
    return std::sin(0.37 * i) * 100.0 + j * 1.25 - k * k * 0.5;
  });
  // Projective, then affine (W stays exactly 1, so the quotients are the
  // coordinates themselves).
  const Matrix projective = {0.03, 0.011, 0.002, 0.0001, -0.013, 0.9, 0.35, 0.001,
                             0,    0,     1,     0,      2.1,    1.3, 0.7,  1.0};
  Matrix affine = projective;
  affine[3] = 0.0;
  affine[7] = -0.0;
  const std::vector<std::array<int32_t, 2>> sizes = {{5, 7}, {3, 1}, {1100, 2}, {1024, 5}};
  for (const Matrix &m : {projective, affine}) {
    for (const auto &size : sizes) {
      const int32_t columns = size[0], rows = size[1];
      const Slice s = run_kernel(vol, m, columns, rows, 1, "double");
      ASSERT_EQ(s.status, 0);
      for (int j = 1; j <= rows; ++j) {
        double x = (m[8] * 0.0 + m[12]) + j * m[4];
        double y = (m[9] * 0.0 + m[13]) + j * m[5];
        double z = (m[10] * 0.0 + m[14]) + j * m[6];
        double w = (m[11] * 0.0 + m[15]) + j * m[7];
        for (int i = 1; i <= columns; ++i) {
          w = w + m[3];
          x = x + m[0];
          y = y + m[1];
          z = z + m[2];
          const std::size_t e =
              static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(columns) * (j - 1);
          ASSERT_EQ(bits(s.image[e]), bits(vol.sample(x / w, y / w, z / w, 1, kBackground)))
              << columns << " x " << rows << " at " << i << "," << j;
        }
      }
      EXPECT_EQ(s.image.back(), kUnwritten);
    }
  }
}

// W rises by 0.25 per pixel in pixel order and is exactly zero at pixel
// (i0, j0): in a later lane of a group of rows, in the second piece of a
// wide row, at the start of a row.
TEST(SliceWalk, ZeroWStopsAtItsPixelInAnyRowOrPiece) {
  TestVolume vol = ramp_volume();
  struct Case {
    int32_t columns, rows, i0, j0;
  };
  for (const Case c :
       {Case{6, 9, 4, 7}, Case{1030, 3, 1027, 2}, Case{5, 4, 1, 4}, Case{2, 6, 2, 3}}) {
    Matrix m = translation(0, 0, 2);
    m[3] = 0.25;
    m[7] = 0.25 * (c.columns + 1);
    m[15] = -0.25 * (c.j0 * (c.columns + 1) + c.i0);
    for (int kernel : {0, 1, 3}) {
      const Slice s = run_kernel(vol, m, c.columns, c.rows, kernel);
      EXPECT_EQ(s.status, -1);
      const auto stop =
          static_cast<std::size_t>(c.i0 - 1) + static_cast<std::size_t>(c.columns) * (c.j0 - 1);
      for (std::size_t e = 0; e < s.image.size(); ++e) {
        ASSERT_EQ(s.image[e] == kUnwritten, e >= stop)
            << c.columns << " x " << c.rows << " pixel " << e;
      }
    }
  }
}

TEST(SliceNearest, PlaneRimsAreHalfOpen) {
  TestVolume vol = ramp_volume();
  EXPECT_EQ(pixel_at(vol, 1, 1, 0.5, 0), 0.0);
  EXPECT_EQ(pixel_at(vol, 1, 1, 1.5, 0), 100.0);
  EXPECT_EQ(pixel_at(vol, 1, 1, 0.49, 0), kBackground);
  EXPECT_EQ(pixel_at(vol, 1, 1, 5.5, 0), kBackground);
  EXPECT_EQ(pixel_at(vol, 1, 1, 5.49, 0), 400.0);
  EXPECT_EQ(pixel_at(vol, 4.49, 3.49, 3, 0), (3 + 20 + 200) * 0.5 + 2.0);
  EXPECT_EQ(pixel_at(vol, 1, 1, kNaN, 0), kBackground);
}

TEST(SliceTrilinear, PlaneRimsOpenJustAbove095AndBelowDimPlus005) {
  TestVolume vol = ramp_volume();
  EXPECT_TRUE(within_one_ulp(pixel_at(vol, 1, 1, 0.951, 1), 0.0));
  EXPECT_TRUE(within_one_ulp(pixel_at(vol, 2, 3, 0.951, 1), 21.0));
  EXPECT_EQ(pixel_at(vol, 2, 3, 0.95, 1), kBackground);
  EXPECT_EQ(pixel_at(vol, 2, 3, 5.05, 1), kBackground);
  EXPECT_TRUE(within_one_ulp(pixel_at(vol, 2, 3, 5.0499, 1), 421.0));
}

TEST(SliceTrilinear, WholeNumberCoordinatesGiveTheVoxelExactly) {
  TestVolume vol = ramp_volume();
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(bits(pixel_at(vol, 3, 2, k, 1)),
              bits(ramp(2, 1, k - 1) * vol.scale()[k - 1] + vol.offset()[k - 1]));
  }
}

TEST(SliceTrilinear, OnePlaneVolumeGivesTheBilinearValue) {
  TestVolume vol(unit_named("schar"), 3, 3, 1, [](int i, int j, int) { return i - 4.0 * j; });
  EXPECT_EQ(pixel_at(vol, 1.5, 2.5, 1.0, 1, "schar"), 0.5 - 6.0);
  EXPECT_TRUE(within_one_ulp(pixel_at(vol, 1.5, 2.5, 0.96, 1, "schar"), -5.5));
  EXPECT_TRUE(within_one_ulp(pixel_at(vol, 1.5, 2.5, 1.0499, 1, "schar"), -5.5));
  EXPECT_EQ(pixel_at(vol, 1.5, 2.5, 1.05, 1, "schar"), kBackground);
}

TEST(SliceLookup, RimsAreClosed) {
  TestVolume vol = ramp_volume();
  for (int kernel : {3, 4, 5}) {
    EXPECT_NE(pixel_at(vol, 0.95, 1, 1, kernel), kBackground);
    EXPECT_NE(pixel_at(vol, 4.05, 1, 1, kernel), kBackground);
    EXPECT_EQ(pixel_at(vol, 0.94, 1, 1, kernel), kBackground);
    EXPECT_EQ(pixel_at(vol, 4.06, 1, 1, kernel), kBackground);
    EXPECT_EQ(pixel_at(vol, 1, 1, 5.06, kernel), kBackground);
  }
}

TEST(SliceLookup, SincAndLagrangeGiveTheVoxelNearItsCentre) {
  TestVolume vol = ramp_volume();
  const double expected = ramp(2, 1, 2) * 0.5 + 2.0;
  for (int32_t hold : {2, 3, 7, -1, -2, -5}) {
    // 2 x 2 pixels around voxel (3, 2, 3): a size unlike the volume's.
    const Slice s = run_slice(vol, translation(1.000004, 0.999997, 3), 2, 2, hold);
    EXPECT_EQ(bits(s.image[1]), bits(expected)) << hold;
  }
}

TEST(SliceLookup, MatchesPointSamplingAtTheSameCoordinates) {
  TestVolume vol = ramp_volume("int_s");
  Matrix m = translation(0.3, 0.45, 0);
  m[2] = 0.3;
  m[6] = 0.7;
  m[14] = 0.6;
  for (int32_t hold : {0, 1, 2, 3, -1, -3}) {
    const Slice s = run_slice(vol, m, 4, 3, hold, "int_s");
    for (int j = 1; j <= 3; ++j) {
      // The walk's own coordinates: row start, then repeated addition.
      double x = (m[8] * 0.0 + m[12]) + j * m[4];
      double y = (m[9] * 0.0 + m[13]) + j * m[5];
      double z = (m[10] * 0.0 + m[14]) + j * m[6];
      for (int i = 1; i <= 4; ++i) {
        x = x + m[0];
        y = y + m[1];
        z = z + m[2];
        EXPECT_EQ(bits(s.image[static_cast<std::size_t>(i - 1 + 4 * (j - 1))]),
                  bits(vol.sample(x, y, z, hold, kBackground)))
            << hold << " at " << i << "," << j;
      }
    }
  }
}

}  // namespace
