// Point sampling: nearest neighbour, trilinear and lookup-table kernels,
// their rims, per-plane scaling, NaN voxels and coordinates, the hold codes
// and the builder each type unit keeps.
#include <gtest/gtest.h>

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

// value = i + 10 j + 100 k (0-based), in a 4 x 3 x 5 short volume.
double ramp(int i, int j, int k) { return i + 10.0 * j + 100.0 * k; }

TestVolume ramp_volume(const char *suffix = "short") {
  return TestVolume(unit_named(suffix), 4, 3, 5, ramp);
}

// A ramp whose values every encoding holds (0..59).
double small_ramp(int i, int j, int k) { return i + 4.0 * j + 12.0 * k; }

TestVolume small_ramp_volume(const char *suffix) {
  return TestVolume(unit_named(suffix), 4, 3, 5, small_ramp);
}

TEST(NearestNeighbour, RoundsHalvesUpwardAndAcceptsHalfAVoxelBeyondTheCentres) {
  TestVolume vol = ramp_volume();
  EXPECT_EQ(vol.sample(0.5, 1, 1, 0), 0.0);
  EXPECT_EQ(vol.sample(1.5, 1, 1, 0), 1.0);
  EXPECT_EQ(vol.sample(0.49, 1, 1, 0), kBackground);
  EXPECT_EQ(vol.sample(4.5, 1, 1, 0), kBackground);
  EXPECT_EQ(vol.sample(4.49, 1, 1, 0), 3.0);
  EXPECT_EQ(vol.sample(2, 3.49, 5.49, 0), 1 + 20 + 400.0);
  EXPECT_EQ(vol.sample(2, 3.5, 1, 0), kBackground);
  EXPECT_EQ(vol.sample(2, 1, 5.5, 0), kBackground);
}

TEST(NearestNeighbour, NonFiniteAndOutOfRangeCoordinatesAreOutside) {
  TestVolume vol = ramp_volume();
  for (double c : {kNaN, kInf, -kInf, 3e9, -3e9, 1e300, 2147483648.5, -2147483648.5}) {
    EXPECT_EQ(vol.sample(c, 1, 1, 0), kBackground) << c;
    EXPECT_EQ(vol.sample(1, c, 1, 0), kBackground) << c;
    EXPECT_EQ(vol.sample(1, 1, c, 0), kBackground) << c;
  }
}

TEST(NearestNeighbour, AppliesTheScaleAndOffsetOfThePlaneItReads) {
  TestVolume vol = ramp_volume();
  vol.set_plane_scaling(1, 0.5, 3.0);
  EXPECT_EQ(vol.sample(2, 2, 2, 0), 0.5 * 111.0 + 3.0);
  EXPECT_EQ(vol.sample(2, 2, 1, 0), 11.0);
}

TEST(Trilinear, WholeNumberCoordinatesGiveTheVoxelExactly) {
  TestVolume vol = ramp_volume();
  vol.set_plane_scaling(2, 0.1, 0.3);
  for (int k = 1; k <= 5; ++k) {
    for (int j = 1; j <= 3; ++j) {
      for (int i = 1; i <= 4; ++i) {
        const double expected =
            vol.scale()[k - 1] * ramp(i - 1, j - 1, k - 1) + vol.offset()[k - 1];
        EXPECT_EQ(bits(vol.sample(i, j, k, 1)), bits(expected)) << i << j << k;
      }
    }
  }
}

TEST(Trilinear, InterpolatesTheRampBetweenCentres) {
  TestVolume vol = ramp_volume();
  EXPECT_EQ(vol.sample(1.5, 2.25, 1.75, 1), 0.5 + 12.5 + 75.0);
}

TEST(Trilinear, LowerRimOpensJustAbove095) {
  TestVolume vol = ramp_volume();
  EXPECT_TRUE(within_one_ulp(vol.sample(0.96, 1, 1, 1), 0.0));
  EXPECT_TRUE(within_one_ulp(vol.sample(2, 2, 0.96, 1), 11.0));
  EXPECT_EQ(vol.sample(0.95, 1, 1, 1), kBackground);
  EXPECT_EQ(vol.sample(0.94, 1, 1, 1), kBackground);
  EXPECT_EQ(vol.sample(2, 0.95, 1, 1), kBackground);
}

TEST(Trilinear, UpperRimHoldsTheLastVoxelAndIsOpen) {
  TestVolume vol = ramp_volume();
  EXPECT_TRUE(within_one_ulp(vol.sample(4.04, 1, 1, 1), 3.0));
  EXPECT_EQ(vol.sample(4.05, 1, 1, 1), kBackground);
  EXPECT_TRUE(within_one_ulp(vol.sample(1, 1, 5.04, 1), 400.0));
  EXPECT_EQ(vol.sample(1, 1, 5.05, 1), kBackground);
}

TEST(Trilinear, OnePlaneVolumeGivesTheBilinearValueBetweenItsOpenRims) {
  TestVolume vol(unit_named("ushort"), 3, 3, 1, ramp);
  EXPECT_EQ(vol.sample(1.5, 2.5, 1.0, 1), 0.5 + 15.0);
  EXPECT_TRUE(within_one_ulp(vol.sample(1.5, 2.5, 0.951, 1), 15.5));
  EXPECT_TRUE(within_one_ulp(vol.sample(1.5, 2.5, 1.049, 1), 15.5));
  EXPECT_EQ(vol.sample(1.5, 2.5, 0.95, 1), kBackground);
  EXPECT_EQ(vol.sample(1.5, 2.5, 1.05, 1), kBackground);
}

TEST(Trilinear, ScalesEachPlaneBeforeCombiningPlanes) {
  TestVolume vol = ramp_volume();
  vol.set_plane_scaling(0, 2.0, 1.0);
  vol.set_plane_scaling(1, 1.0, -4.0);
  // Plane 0 at (1, 1): 2*0+1 = 1; plane 1: 100-4 = 96; halfway: 48.5.
  EXPECT_EQ(vol.sample(1, 1, 1.5, 1), 48.5);
}

TEST(Trilinear, NaNCoordinateIsOutside) {
  TestVolume vol = ramp_volume();
  EXPECT_EQ(vol.sample(kNaN, 1, 1, 1), kBackground);
  EXPECT_EQ(vol.sample(1, 1, -kInf, 1), kBackground);
  EXPECT_EQ(vol.sample(1, 1e300, 1, 1), kBackground);
}

TEST(Trilinear, NaNVoxelSpoilsOnlyTheCellsThatReadIt) {
  const kernels_test::Unit &unit = unit_named("float");
  TestVolume vol(unit, 4, 1, 1, [](int i, int, int) { return i == 1 ? kNaN : 1.0; });
  EXPECT_TRUE(std::isnan(vol.sample(1.5, 1, 1, 1)));
  // At x = 1 the upper corner is read with weight 0, and NaN times 0 is NaN.
  EXPECT_TRUE(std::isnan(vol.sample(1, 1, 1, 1)));
  EXPECT_EQ(vol.sample(3.5, 1, 1, 1), 1.0);
  EXPECT_TRUE(std::isnan(vol.sample(2, 1, 1, 0)));
  EXPECT_EQ(vol.sample(3, 1, 1, 0), 1.0);
}

TEST(LookupKernel, RimsAreClosedAt095AndDimPlus005) {
  TestVolume vol = ramp_volume();
  for (int32_t hold : {2, 3, -1, -4}) {
    EXPECT_NE(vol.sample(0.95, 1, 1, hold), kBackground) << hold;
    EXPECT_NE(vol.sample(4.05, 1, 1, hold), kBackground) << hold;
    EXPECT_NE(vol.sample(1, 1, 5.05, hold), kBackground) << hold;
    EXPECT_EQ(vol.sample(0.94, 1, 1, hold), kBackground) << hold;
    EXPECT_EQ(vol.sample(4.06, 1, 1, hold), kBackground) << hold;
    EXPECT_EQ(vol.sample(1, 0.94, 1, hold), kBackground) << hold;
    EXPECT_EQ(vol.sample(1, 1, 5.06, hold), kBackground) << hold;
    EXPECT_EQ(vol.sample(kNaN, 1, 1, hold), kBackground) << hold;
  }
}

TEST(LookupKernel, NearACentreOnEveryAxisGivesTheVoxelExactly) {
  TestVolume vol = ramp_volume("double");
  vol.set_plane_scaling(2, 0.1, 0.7);
  const double expected = 0.1 * ramp(1, 2, 2) + 0.7;
  for (int32_t hold : {2, 3, 6, -1, -3, -8}) {
    EXPECT_EQ(bits(vol.sample(2.000004, 2.999996, 3.0, hold)), bits(expected)) << hold;
  }
}

TEST(LookupKernel, QuadraticLagrangeReproducesAQuadratic) {
  TestVolume vol(unit_named("int"), 8, 1, 1, [](int i, int, int) { return 1.0 * i * i; });
  EXPECT_EQ(vol.sample(4.25, 1, 1, 2), 3.25 * 3.25);
}

TEST(LookupKernel, TwoNodeSincHalfwayAveragesTheNeighbours) {
  TestVolume vol = small_ramp_volume("uchar");
  EXPECT_EQ(vol.sample(2.5, 1, 1, -1), 1.5);
}

TEST(LookupKernel, SincKeepsAConstantVolumeConstant) {
  TestVolume vol(unit_named("float_s"), 6, 5, 4, [](int, int, int) { return 42.0; });
  for (double x : {0.95, 1.3, 2.7, 6.05}) {
    EXPECT_NEAR(vol.sample(x, 2.2, 3.9, -3), 42.0, 1e-12) << x;
  }
}

TEST(LookupKernel, LagrangeCutAtTheRimDoesNotNormalise) {
  // q = 4 at x = 1.5 keeps weights 0.5625, 0.5625, -0.0625 (sum 1.0625).
  TestVolume vol(unit_named("short"), 4, 1, 1, [](int, int, int) { return 16.0; });
  EXPECT_EQ(vol.sample(1.5, 1, 1, 3), 17.0);
}

TEST(LookupKernel, OnePlaneVolumeWeighsTheInPlaneValue) {
  TestVolume vol(unit_named("short"), 4, 4, 1, [](int, int, int) { return 8.0; });
  EXPECT_EQ(vol.sample(2, 2, 1.0, -1), 8.0);
  EXPECT_NEAR(vol.sample(2.3, 2.6, 1.04, -3), 8.0, 1e-12);
  // Lagrange: the single z node weighs L_0(0.04) = 1 - 0.04^2 for q = 3.
  EXPECT_NEAR(vol.sample(2, 2, 1.04, 2), 8.0 * (1 - 0.04 * 0.04), 1e-12);
  EXPECT_EQ(vol.sample(2, 2, 1.06, 2), kBackground);
}

TEST(LookupKernel, ScalesEachPlaneBeforeWeightingAlongZ) {
  TestVolume vol(unit_named("short"), 2, 2, 2, [](int, int, int k) { return k == 0 ? 2.0 : 4.0; });
  vol.set_plane_scaling(0, 3.0, 1.0);  // 7
  vol.set_plane_scaling(1, 0.5, 5.0);  // 7
  EXPECT_EQ(vol.sample(1.5, 1.5, 1.5, -1), 7.0);
}

TEST(HoldCodes, BeyondTheTablesAreClampedToTheLargestStencil) {
  TestVolume vol = ramp_volume("double");
  for (double x : {1.3, 2.7}) {
    EXPECT_EQ(bits(vol.sample(x, 2.2, 3.4, 300)), bits(vol.sample(x, 2.2, 3.4, 254)));
    EXPECT_EQ(bits(vol.sample(x, 2.2, 3.4, std::numeric_limits<int32_t>::max())),
              bits(vol.sample(x, 2.2, 3.4, 254)));
    EXPECT_EQ(bits(vol.sample(x, 2.2, 3.4, -300)), bits(vol.sample(x, 2.2, 3.4, -254)));
    EXPECT_EQ(bits(vol.sample(x, 2.2, 3.4, std::numeric_limits<int32_t>::min())),
              bits(vol.sample(x, 2.2, 3.4, -254)));
  }
}

TEST(HoldCodes, ExportedLookupKernelClampsItsNodeCount) {
  const kernels_test::Unit &unit = unit_named("short");
  TestVolume vol = ramp_volume();
  unit.resample(0, vol.data(), nullptr, nullptr, nullptr, nullptr, 4, 3, 5, 2, 0.0, vol.scale(),
                vol.offset());
  const double x = 2.3, y = 2.2, z = 3.4;
  double big = 0.0, clamped = 0.0, zero = 0.0, one = 0.0;
  unit.resample_poly(1, vol.data(), &big, &x, &y, &z, 4, 3, 5, 100000, 0.0, vol.scale(),
                     vol.offset());
  unit.resample_poly(1, vol.data(), &clamped, &x, &y, &z, 4, 3, 5, 255, 0.0, vol.scale(),
                     vol.offset());
  unit.resample_poly(1, vol.data(), &zero, &x, &y, &z, 4, 3, 5, -5, 0.0, vol.scale(), vol.offset());
  unit.resample_poly(1, vol.data(), &one, &x, &y, &z, 4, 3, 5, 1, 0.0, vol.scale(), vol.offset());
  EXPECT_EQ(bits(big), bits(clamped));
  EXPECT_EQ(bits(zero), bits(one));
  EXPECT_EQ(one, ramp(1, 1, 2));
}

TEST(HoldCodes, EmptyRequestWritesNothing) {
  TestVolume vol = ramp_volume();
  double out = 123.0;
  const double x = 1, y = 1, z = 1;
  for (int32_t hold : {0, 1, 2, -1}) {
    unit_named("short").resample(0, vol.data(), &out, &x, &y, &z, 4, 3, 5, hold, 0.0, vol.scale(),
                                 vol.offset());
    unit_named("short").resample(-3, vol.data(), &out, &x, &y, &z, 4, 3, 5, hold, 0.0, vol.scale(),
                                 vol.offset());
  }
  EXPECT_EQ(out, 123.0);
}

// The lookup kernel runs whichever builder its type unit last chose.
double poly_kernel_at(const kernels_test::Unit &unit, TestVolume &vol, double x) {
  const double y = 1, z = 1;
  double out = 0.0;
  unit.resample_poly(1, vol.data(), &out, &x, &y, &z, vol.dim(0), vol.dim(1), vol.dim(2), 2, 0.0,
                     vol.scale(), vol.offset());
  return out;
}

TEST(BuilderChoice, EachTypeUnitKeepsTheBuilderItsLastEntryChose) {
  const kernels_test::Unit &shorts = unit_named("short");
  const kernels_test::Unit &ushorts = unit_named("ushort");
  TestVolume a(shorts, 4, 1, 1, [](int i, int, int) { return i * i * 1.0; });
  TestVolume b(ushorts, 4, 1, 1, [](int i, int, int) { return i * i * 1.0; });
  a.sample(1, 1, 1, 2);
  const double lagrange = poly_kernel_at(shorts, a, 2.3);
  a.sample(1, 1, 1, -1);
  b.sample(1, 1, 1, 2);
  const double sinc = poly_kernel_at(shorts, a, 2.3);
  EXPECT_NE(lagrange, sinc);
  EXPECT_EQ(bits(poly_kernel_at(ushorts, b, 2.3)), bits(lagrange));
  double out = 0.0;
  const double x = 2.3, y = 1, z = 1;
  shorts.resample(1, a.data(), &out, &x, &y, &z, 4, 1, 1, -1, 0.0, a.scale(), a.offset());
  EXPECT_EQ(bits(out), bits(sinc));
  a.sample(1, 1, 1, 0);  // nearest neighbour chooses the Lagrange builder again
  EXPECT_EQ(bits(poly_kernel_at(shorts, a, 2.3)), bits(lagrange));
}

TEST(AllEncodings, EveryKernelGivesTheSameBitsForTheSameValues) {
  const std::vector<double> xs = {0.95, 1.0, 1.37, 2.5, 3.999999, 4.04, 4.05};
  const std::vector<double> ys = {1.0, 2.2, 0.96, 3.0, 2.5, 1.7, 2.0};
  const std::vector<double> zs = {1.0, 4.4, 2.0, 5.04, 1.5, 3.3, 0.5};
  const int32_t m = static_cast<int32_t>(xs.size());
  TestVolume reference = small_ramp_volume("double");
  for (int32_t hold : {0, 1, 2, 3, 5, -1, -3, -6}) {
    std::vector<double> expected(xs.size());
    unit_named("double").resample(m, reference.data(), expected.data(), xs.data(), ys.data(),
                                  zs.data(), 4, 3, 5, hold, kBackground, reference.scale(),
                                  reference.offset());
    for (const kernels_test::Unit &unit : kernels_test::all_units()) {
      TestVolume vol = small_ramp_volume(unit.suffix);
      std::vector<double> got(xs.size());
      unit.resample(m, vol.data(), got.data(), xs.data(), ys.data(), zs.data(), 4, 3, 5, hold,
                    kBackground, vol.scale(), vol.offset());
      for (std::size_t p = 0; p < xs.size(); ++p) {
        EXPECT_EQ(bits(got[p]), bits(expected[p]))
            << unit.suffix << " hold " << hold << " point " << p;
      }
    }
  }
}

TEST(SixtyFourBitVoxels, AreRoundedOnConversion) {
  TestVolume vol(unit_named("int64_s"), 2, 1, 1, [](int, int, int) { return 0.0; });
  const unsigned char big[8] = {0x00, 0x20, 0, 0, 0, 0, 0, 0x01};  // 2^53 + 1, reversed
  vol.put_raw(0, 0, big);
  EXPECT_EQ(vol.sample(1, 1, 1, 0), 9007199254740992.0);
  TestVolume u(unit_named("uint64"), 1, 1, 1, [](int, int, int) { return 0.0; });
  const unsigned char ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  u.put_raw(0, 0, ones);
  EXPECT_EQ(u.sample(1, 1, 1, 1), 18446744073709551616.0);
}

}  // namespace
