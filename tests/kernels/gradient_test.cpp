// Sampling with gradients: the trilinear and lookup-table kernels on
// linear and constant volumes, at the rims, and with per-plane scaling.
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

constexpr double kBackground = -7.0;

struct Sample {
  double value;
  double gx;
  double gy;
  double gz;
};

Sample sample_d(const char *suffix, TestVolume &vol, double x, double y, double z, int32_t hold) {
  Sample s{0.5, 0.5, 0.5, 0.5};
  unit_named(suffix).resample_d(1, vol.data(), &s.value, &s.gx, &s.gy, &s.gz, &x, &y, &z,
                                vol.dim(0), vol.dim(1), vol.dim(2), hold, kBackground, vol.scale(),
                                vol.offset());
  return s;
}

// value = 2(x-1) + 3(y-1) + 5(z-1) in 1-based coordinates.
double linear(int i, int j, int k) { return 2.0 * i + 3.0 * j + 5.0 * k; }

TestVolume linear_volume() { return TestVolume(unit_named("int"), 6, 5, 4, linear); }

TEST(TrilinearGradient, LinearVolumeGivesItsSlopesInsideTheCells) {
  TestVolume vol = linear_volume();
  for (double x : {1.2, 2.5, 4.9}) {
    const Sample s = sample_d("int", vol, x, 2.7, 3.1, 1);
    EXPECT_NEAR(s.gx, 2.0, 1e-12);
    EXPECT_NEAR(s.gy, 3.0, 1e-12);
    EXPECT_NEAR(s.gz, 5.0, 1e-12);
    EXPECT_NEAR(s.value, 2 * (x - 1) + 3 * 1.7 + 5 * 2.1, 1e-12);
  }
}

TEST(TrilinearGradient, DerivativeIsExactlyZeroWithinTheRimMargins) {
  TestVolume vol = linear_volume();
  const Sample below = sample_d("int", vol, 0.97, 2.5, 2.5, 1);
  EXPECT_EQ(bits(below.gx), bits(0.0));
  EXPECT_NEAR(below.gy, 3.0, 1e-12);
  const Sample above = sample_d("int", vol, 3.5, 5.03, 2.5, 1);
  EXPECT_EQ(bits(above.gy), bits(0.0));
  const Sample top = sample_d("int", vol, 3.5, 2.5, 4.0, 1);
  EXPECT_EQ(bits(top.gz), bits(0.0));
}

TEST(TrilinearGradient, OnePlaneVolumeHasNoDerivativeAlongZ) {
  TestVolume vol(unit_named("int"), 3, 3, 1, linear);
  for (double z : {0.96, 1.0, 1.04}) {
    const Sample s = sample_d("int", vol, 1.5, 2.5, z, 1);
    EXPECT_EQ(bits(s.gz), bits(0.0));
    EXPECT_NEAR(s.gx, 2.0, 1e-12);
  }
}

TEST(TrilinearGradient, AtACentreTheDerivativeIsTheForwardDifference) {
  TestVolume vol(unit_named("short"), 4, 3, 3, [](int i, int, int) { return 1.0 * i * i; });
  vol.set_plane_scaling(1, 3.0, 100.0);
  EXPECT_EQ(sample_d("short", vol, 1, 2, 2, 1).gx, 3.0 * (1.0 - 0.0));
  EXPECT_EQ(sample_d("short", vol, 2, 2, 2, 1).gx, 3.0 * (4.0 - 1.0));
  EXPECT_EQ(bits(sample_d("short", vol, 4, 2, 2, 1).gx), bits(0.0));
}

TEST(TrilinearGradient, OutsidePointGetsTheBackgroundAndZeroDerivatives) {
  TestVolume vol = linear_volume();
  for (double x : {0.9, 0.95, 6.05, std::numeric_limits<double>::quiet_NaN()}) {
    const Sample s = sample_d("int", vol, x, 2, 2, 1);
    EXPECT_EQ(s.value, kBackground);
    EXPECT_EQ(bits(s.gx), bits(0.0));
    EXPECT_EQ(bits(s.gy), bits(0.0));
    EXPECT_EQ(bits(s.gz), bits(0.0));
  }
}

TEST(TrilinearGradient, ScaleAndOffsetApplyToEachRowBeforeInterpolatingAlongY) {
  TestVolume vol = linear_volume();
  vol.set_plane_scaling(1, 2.0, 10.0);
  vol.set_plane_scaling(2, 0.5, -3.0);
  const Sample s = sample_d("int", vol, 2.25, 3.5, 2.75, 1);
  const double p1 = 2.0 * (2 * 1.25 + 3 * 2.5 + 5 * 1) + 10.0;
  const double p2 = 0.5 * (2 * 1.25 + 3 * 2.5 + 5 * 2) - 3.0;
  EXPECT_EQ(s.value, 0.25 * p1 + 0.75 * p2);
  EXPECT_EQ(s.gz, p2 - p1);
  EXPECT_EQ(s.gx, 2.0 * 2.0 * 0.25 + 2.0 * 0.5 * 0.75);
  EXPECT_EQ(s.gy, 3.0 * 2.0 * 0.25 + 3.0 * 0.5 * 0.75);
}

TEST(LookupGradient, HoldZeroIsTheNearestVoxelWithZeroDerivatives) {
  TestVolume vol = linear_volume();
  const Sample s = sample_d("int", vol, 2.5, 1.4, 3.96, 0);
  EXPECT_EQ(s.value, linear(2, 0, 3));
  EXPECT_EQ(bits(s.gx), bits(0.0));
  EXPECT_EQ(bits(s.gy), bits(0.0));
  EXPECT_EQ(bits(s.gz), bits(0.0));
  EXPECT_EQ(sample_d("int", vol, 0.95, 1, 1, 0).value, linear(0, 0, 0));
  EXPECT_EQ(sample_d("int", vol, 6.05, 1, 1, 0).value, linear(5, 0, 0));
  EXPECT_EQ(sample_d("int", vol, 0.9, 1, 1, 0).value, kBackground);
  EXPECT_EQ(sample_d("int", vol, 6.06, 1, 1, 0).value, kBackground);
}

TEST(LookupGradient, CubicLagrangeGivesTheSlopesOfALinearVolume) {
  TestVolume vol = linear_volume();
  const Sample s = sample_d("int", vol, 3.3, 2.6, 2.2, 3);
  EXPECT_NEAR(s.value, 2 * 2.3 + 3 * 1.6 + 5 * 1.2, 1e-12);
  EXPECT_NEAR(s.gx, 2.0, 1e-7);
  EXPECT_NEAR(s.gy, 3.0, 1e-7);
  EXPECT_NEAR(s.gz, 5.0, 1e-7);
}

TEST(LookupGradient, SincKeepsAConstantVolumeFlat) {
  TestVolume vol(unit_named("double_s"), 6, 6, 6, [](int, int, int) { return 9.0; });
  const Sample s = sample_d("double_s", vol, 3.3, 2.6, 4.2, -3);
  EXPECT_NEAR(s.value, 9.0, 1e-12);
  EXPECT_NEAR(s.gx, 0.0, 1e-6);
  EXPECT_NEAR(s.gy, 0.0, 1e-6);
  EXPECT_NEAR(s.gz, 0.0, 1e-6);
}

TEST(LookupGradient, OffsetEntersOnlyTheValueAndTheZDerivative) {
  TestVolume vol(unit_named("short"), 4, 4, 4, [](int, int, int) { return 2.0; });
  const Sample plain = sample_d("short", vol, 2.3, 2.3, 2.3, 2);
  for (int32_t k = 0; k < 4; ++k) vol.set_plane_scaling(k, 1.0, 1000.0 * k);
  const Sample shifted = sample_d("short", vol, 2.3, 2.3, 2.3, 2);
  EXPECT_EQ(bits(shifted.gx), bits(plain.gx));
  EXPECT_EQ(bits(shifted.gy), bits(plain.gy));
  EXPECT_NE(shifted.value, plain.value);
  EXPECT_NEAR(shifted.gz, 1000.0, 1e-3);
}

TEST(LookupGradient, OutsidePointGetsTheBackgroundAndZeroDerivatives) {
  TestVolume vol = linear_volume();
  for (int32_t hold : {0, 2, -2}) {
    const Sample s = sample_d("int", vol, 2, 2, 4.06, hold);
    EXPECT_EQ(s.value, kBackground);
    EXPECT_EQ(bits(s.gx) | bits(s.gy) | bits(s.gz), 0u);
  }
}

TEST(GradientEntry, HoldCodesBeyondTheTablesAreClamped) {
  TestVolume vol = linear_volume();
  const Sample big = sample_d("int", vol, 3.3, 2.6, 2.2, 1000);
  const Sample max = sample_d("int", vol, 3.3, 2.6, 2.2, 254);
  EXPECT_EQ(bits(big.value), bits(max.value));
  EXPECT_EQ(bits(big.gx), bits(max.gx));
  const Sample low = sample_d("int", vol, 3.3, 2.6, 2.2, std::numeric_limits<int32_t>::min());
  const Sample min = sample_d("int", vol, 3.3, 2.6, 2.2, -254);
  EXPECT_EQ(bits(low.value), bits(min.value));
  EXPECT_EQ(bits(low.gz), bits(min.gz));
}

TEST(GradientEntry, EachTypeUnitKeepsTheGradientBuilderItsLastEntryChose) {
  const kernels_test::Unit &unit = unit_named("uint");
  TestVolume vol(unit, 5, 1, 1, [](int i, int, int) { return 1.0 * i * i; });
  const Sample sinc = sample_d("uint", vol, 2.3, 1, 1, -1);
  const double x = 2.3, y = 1, z = 1;
  Sample direct{};
  unit.resample_d_poly(1, vol.data(), &direct.value, &direct.gx, &direct.gy, &direct.gz, &x, &y, &z,
                       5, 1, 1, 2, kBackground, vol.scale(), vol.offset());
  EXPECT_EQ(bits(direct.value), bits(sinc.value));
  sample_d("uint", vol, 2.3, 1, 1, 1);  // trilinear chooses the Lagrange builder again
  unit.resample_d_poly(1, vol.data(), &direct.value, &direct.gx, &direct.gy, &direct.gz, &x, &y, &z,
                       5, 1, 1, 2, kBackground, vol.scale(), vol.offset());
  EXPECT_NEAR(direct.value, 0.7 * 1.0 + 0.3 * 4.0, 1e-12);
  EXPECT_NEAR(direct.gx, 3.0, 1e-8);
}

TEST(GradientEntry, EmptyRequestWritesNothing) {
  TestVolume vol = linear_volume();
  Sample s{1.0, 2.0, 3.0, 4.0};
  const double x = 2, y = 2, z = 2;
  unit_named("int").resample_d(0, vol.data(), &s.value, &s.gx, &s.gy, &s.gz, &x, &y, &z, 6, 5, 4, 1,
                               0.0, vol.scale(), vol.offset());
  EXPECT_EQ(s.value, 1.0);
  EXPECT_EQ(s.gz, 4.0);
}

}  // namespace
