// The four weight builders: runs, exact weights, the whole-number
// shortcut, the cache of the last node count, and coordinates far outside.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lookup_cache.h"
#include "unit_table.h"
#include "volaccess.h"

namespace {

using kernels_test::bits;

// One builder call's result: first voxel and the weights of the run.
struct Weights {
  int32_t first = -99;
  std::vector<double> w;
  std::vector<double> dw;
  bool empty_at_table_minus_one = false;
};

Weights collect(double *table, double *dtable, int32_t first, double *last) {
  Weights result;
  result.first = first;
  const int32_t n = volaccess::run_length(table, last);
  result.empty_at_table_minus_one = last == volaccess::empty_run_last(table);
  for (int32_t e = 0; e < n; ++e) {
    result.w.push_back(table[e]);
    if (dtable != nullptr) result.dw.push_back(dtable[e]);
  }
  return result;
}

Weights poly(int32_t q, int32_t d, double c) {
  static double table[256];
  int32_t first = -99;
  double *last = nullptr;
  make_lookup_poly(q, d, &first, table, &last, c);
  return collect(table, nullptr, first, last);
}

Weights sinc(int32_t q, int32_t d, double c) {
  static double table[256];
  int32_t first = -99;
  double *last = nullptr;
  make_lookup_sinc(q, d, &first, table, &last, c);
  return collect(table, nullptr, first, last);
}

Weights poly_grad(int32_t q, int32_t d, double c) {
  static double table[256];
  static double dtable[256];
  int32_t first = -99;
  double *last = nullptr;
  make_lookup_poly_grad(q, d, &first, table, dtable, &last, c);
  return collect(table, dtable, first, last);
}

Weights sinc_grad(int32_t q, int32_t d, double c) {
  static double table[256];
  static double dtable[256];
  int32_t first = -99;
  double *last = nullptr;
  make_lookup_sinc_grad(q, d, &first, table, dtable, &last, c);
  return collect(table, dtable, first, last);
}

void expect_weights(const Weights &got, int32_t first, const std::vector<double> &expected) {
  EXPECT_EQ(got.first, first);
  ASSERT_EQ(got.w.size(), expected.size());
  for (std::size_t e = 0; e < expected.size(); ++e) {
    EXPECT_EQ(bits(got.w[e]), bits(expected[e])) << "entry " << e << ": " << got.w[e];
  }
}

TEST(LagrangeBuilder, ThreeNodesGiveTheQuadraticBasisAroundTheNearestVoxel) {
  // c = 2.25: centre voxel 1, t = 0.25; t(t-1)/2, 1-t^2, t(t+1)/2.
  expect_weights(poly(3, 10, 2.25), 0, {-0.09375, 0.9375, 0.15625});
  const volaccess::LookupCache cache = volaccess::poly_cache();
  EXPECT_EQ(cache.oq, 3);
  EXPECT_EQ(cache.k0, -1);
  EXPECT_EQ(cache.k1, 1);
}

TEST(LagrangeBuilder, FourNodesHalfwayGiveTheCubicMidpointWeights) {
  expect_weights(poly(4, 4, 2.5), 0, {-0.0625, 0.5625, 0.5625, -0.0625});
  expect_weights(poly(4, 10, 5.5), 3, {-0.0625, 0.5625, 0.5625, -0.0625});
}

TEST(LagrangeBuilder, RunCutAtTheLowerRimKeepsTheRemainingWeights) {
  // The node at offset -1 is dropped; the sum is 1.0625, not 1.
  expect_weights(poly(4, 3, 1.5), 0, {0.5625, 0.5625, -0.0625});
}

TEST(LagrangeBuilder, RunCutAtTheUpperRimKeepsTheRemainingWeights) {
  expect_weights(poly(4, 3, 2.5), 0, {-0.0625, 0.5625, 0.5625});
}

TEST(LagrangeBuilder, OneVoxelAxisGivesItsBasisWeightNotOne) {
  // q = 3 at c = 1.25 on one voxel: only the centre node, L_0(0.25).
  expect_weights(poly(3, 1, 1.25), 0, {0.9375});
}

TEST(LagrangeBuilder, WholeNumberShortcutTakesCoordinatesWithinTenMillionthsOfACentre) {
  expect_weights(poly(3, 5, 1.000004), 0, {1.0});
  expect_weights(poly(3, 5, 0.999995), 0, {1.0});
  expect_weights(poly(5, 5, 4.0), 3, {1.0});
  const Weights full = poly(3, 5, 1.00002);
  EXPECT_EQ(full.first, 0);
  ASSERT_EQ(full.w.size(), 2u);
  EXPECT_NE(full.w[0], 1.0);
  EXPECT_NEAR(full.w[0], 1.0, 1e-4);
}

TEST(LagrangeBuilder, WholeNumberOutsideTheAxisGivesAnEmptyRunAtTableMinusOne) {
  const Weights below = poly(3, 5, -10.0);
  EXPECT_TRUE(below.empty_at_table_minus_one);
  EXPECT_TRUE(below.w.empty());
  EXPECT_EQ(below.first, -11);
  EXPECT_TRUE(poly(3, 5, 7.0).empty_at_table_minus_one);
}

TEST(LagrangeBuilder, FractionalCoordinateFarOutsideGivesAnEmptyRun) {
  EXPECT_TRUE(poly(4, 5, -10.5).empty_at_table_minus_one);
  EXPECT_TRUE(poly(4, 5, 20.5).empty_at_table_minus_one);
}

TEST(LagrangeBuilder, DenominatorsAreCachedPerNodeCountAndRecomputedOnChange) {
  const Weights first = poly(3, 10, 4.3);
  EXPECT_EQ(volaccess::poly_cache().oq, 3);
  const Weights five = poly(5, 10, 4.3);
  EXPECT_EQ(volaccess::poly_cache().oq, 5);
  EXPECT_EQ(volaccess::poly_cache().k0, -2);
  EXPECT_EQ(five.w.size(), 5u);
  const Weights again = poly(3, 10, 4.3);
  ASSERT_EQ(first.w.size(), again.w.size());
  for (std::size_t e = 0; e < first.w.size(); ++e) EXPECT_EQ(bits(first.w[e]), bits(again.w[e]));
}

TEST(LagrangeBuilder, ShortcutComesAfterTheCacheCheck) {
  poly(3, 10, 4.3);
  poly(7, 10, 4.0);  // takes the shortcut
  EXPECT_EQ(volaccess::poly_cache().oq, 7);
}

TEST(LagrangeBuilder, EvenCountsCentreOnTheVoxelBelow) {
  poly(6, 20, 8.7);
  const volaccess::LookupCache cache = volaccess::poly_cache();
  EXPECT_EQ(cache.k0, -2);
  EXPECT_EQ(cache.k1, 3);
  EXPECT_EQ(poly(6, 20, 8.7).first, 5);  // centre voxel 7 (0-based 7 = floor(7.7)), minus 2
}

TEST(LagrangeBuilder, FullRunReproducesACubic) {
  const double c = 6.3;
  const Weights w = poly(4, 20, c);
  ASSERT_EQ(w.w.size(), 4u);
  double sum = 0.0;
  double cubic = 0.0;
  for (std::size_t e = 0; e < 4; ++e) {
    const double voxel = w.first + static_cast<double>(e);
    sum += w.w[e];
    cubic += w.w[e] * voxel * voxel * voxel;
  }
  EXPECT_NEAR(sum, 1.0, 1e-14);
  EXPECT_NEAR(cubic, (c - 1) * (c - 1) * (c - 1), 1e-11);
}

TEST(LagrangeBuilder, NodeCountsBelowOneGiveAnEmptyRun) {
  EXPECT_TRUE(poly(0, 10, 3.3).empty_at_table_minus_one);
  EXPECT_TRUE(poly(std::numeric_limits<int32_t>::min(), 10, 3.3).empty_at_table_minus_one);
}

TEST(LagrangeBuilder, NodeCountsAboveTheCacheAreClampedTo256) {
  const Weights w = poly(100000, 1000, 500.5);
  EXPECT_EQ(w.w.size(), 256u);
  EXPECT_EQ(volaccess::poly_cache().oq, 256);
}

TEST(Builders, NonFiniteAndHugeCoordinatesGiveAnEmptyRun) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double c : {nan, inf, -inf, 1e300, -1e300, 3e9, -3e9}) {
    EXPECT_TRUE(poly(4, 10, c).empty_at_table_minus_one) << c;
    EXPECT_TRUE(poly(3, 10, c).empty_at_table_minus_one) << c;
    EXPECT_TRUE(sinc(4, 10, c).empty_at_table_minus_one) << c;
    EXPECT_TRUE(poly_grad(4, 10, c).empty_at_table_minus_one) << c;
    EXPECT_TRUE(sinc_grad(5, 10, c).empty_at_table_minus_one) << c;
  }
}

TEST(SincBuilder, TwoNodesHalfwayGiveEqualHalves) {
  expect_weights(sinc(2, 2, 1.5), 0, {0.5, 0.5});
}

TEST(SincBuilder, OneVoxelAxisNormalisesItsSingleWeightToOne) {
  expect_weights(sinc(2, 1, 1.02), 0, {1.0});
}

TEST(SincBuilder, RunCutAtTheRimStillSumsToOne) {
  const Weights w = sinc(6, 4, 1.3);
  EXPECT_EQ(w.first, 0);
  ASSERT_EQ(w.w.size(), 4u);  // centre 0, offsets -2..3: voxels 0..3
  double sum = 0.0;
  for (double v : w.w) sum += v;
  EXPECT_NEAR(sum, 1.0, 1e-15);
}

TEST(SincBuilder, WeightsAreTheHannWindowedSincNormalised) {
  const int32_t q = 4;
  const double c = 5.3;
  const Weights w = sinc(q, 20, c);
  ASSERT_EQ(w.w.size(), 4u);
  EXPECT_EQ(w.first, 3);
  const double pi = 3.141592653589793;
  std::vector<double> raw;
  double sum = 0.0;
  for (int e = 0; e < 4; ++e) {
    const double a = pi * ((c - 1.0) - (w.first + e));
    raw.push_back(std::sin(a) / a * 0.5 * (std::cos((a + a) / q) + 1.0));
    sum += raw.back();
  }
  for (int e = 0; e < 4; ++e)
    EXPECT_EQ(bits(w.w[static_cast<std::size_t>(e)]), bits(raw[static_cast<std::size_t>(e)] / sum));
}

TEST(SincBuilder, ShortcutComesBeforeTheCacheCheck) {
  sinc(3, 10, 4.3);
  EXPECT_EQ(volaccess::sinc_cache().oq, 3);
  expect_weights(sinc(9, 10, 4.000001), 3, {1.0});
  EXPECT_EQ(volaccess::sinc_cache().oq, 3);  // the shortcut left the cache alone
  sinc(9, 10, 4.3);
  EXPECT_EQ(volaccess::sinc_cache().oq, 9);
  EXPECT_EQ(volaccess::sinc_cache().k0, -4);
}

TEST(SincBuilder, WholeNumberOutsideGivesAnEmptyRun) {
  EXPECT_TRUE(sinc(4, 5, -10.0).empty_at_table_minus_one);
}

TEST(LagrangeGradBuilder, OneNodeHasWeightOneAndDerivativeZero) {
  const Weights w = poly_grad(1, 10, 3.4);
  EXPECT_EQ(w.first, 2);
  ASSERT_EQ(w.w.size(), 1u);
  EXPECT_EQ(bits(w.w[0]), bits(1.0));
  EXPECT_EQ(bits(w.dw[0]), bits(0.0));
}

TEST(LagrangeGradBuilder, HasNoWholeNumberShortcut) {
  const Weights w = poly_grad(3, 10, 4.0);
  EXPECT_EQ(w.first, 2);
  ASSERT_EQ(w.w.size(), 3u);
  EXPECT_EQ(w.w[1], 1.0);
  EXPECT_EQ(w.w[0], 0.0);
}

TEST(LagrangeGradBuilder, WeightsMatchTheValueBuilderAwayFromCentres) {
  const Weights plain = poly(4, 20, 7.3);
  const Weights grad = poly_grad(4, 20, 7.3);
  ASSERT_EQ(plain.w.size(), grad.w.size());
  EXPECT_EQ(plain.first, grad.first);
  for (std::size_t e = 0; e < plain.w.size(); ++e) EXPECT_EQ(bits(plain.w[e]), bits(grad.w[e]));
}

TEST(LagrangeGradBuilder, DerivativeWeightsDifferentiateALinearFunction) {
  // Sum of dw is 0 and sum of dw * voxel is 1, near a centre (full
  // products) and away from it (recurrence).
  for (double c : {7.00005, 7.3, 6.99995, 7.5}) {
    const Weights w = poly_grad(4, 20, c);
    ASSERT_EQ(w.dw.size(), 4u);
    double dsum = 0.0;
    double slope = 0.0;
    for (std::size_t e = 0; e < 4; ++e) {
      dsum += w.dw[e];
      slope += w.dw[e] * (w.first + static_cast<double>(e));
    }
    EXPECT_NEAR(dsum, 0.0, 1e-9) << c;
    EXPECT_NEAR(slope, 1.0, 1e-9) << c;
  }
}

TEST(LagrangeGradBuilder, DerivativeIsTheForwardDifferenceOfTheBasis) {
  const double c = 7.3;
  const Weights w = poly_grad(3, 20, c);
  const Weights ahead = poly(3, 20, c + 0.00001);
  ASSERT_EQ(w.dw.size(), 3u);
  for (std::size_t e = 0; e < 3; ++e) {
    EXPECT_NEAR(w.dw[e], (ahead.w[e] - w.w[e]) / 0.00001, 1e-6);
  }
}

TEST(SincGradBuilder, TwoNodesHalfwayGiveHalvesAndOppositeDerivatives) {
  const Weights w = sinc_grad(2, 5, 1.5);
  EXPECT_EQ(w.first, 0);
  ASSERT_EQ(w.w.size(), 2u);
  EXPECT_EQ(bits(w.w[0]), bits(0.5));
  EXPECT_EQ(bits(w.w[1]), bits(0.5));
  EXPECT_LT(w.dw[0], 0.0);
  EXPECT_GT(w.dw[1], 0.0);
  EXPECT_NEAR(w.dw[0] + w.dw[1], 0.0, 1e-6);
}

TEST(SincGradBuilder, AtACentreTheNodeWeighsExactlyOne) {
  const Weights w = sinc_grad(3, 5, 3.0);
  EXPECT_EQ(w.first, 1);
  ASSERT_EQ(w.w.size(), 3u);
  EXPECT_EQ(bits(w.w[1]), bits(1.0));
  EXPECT_NEAR(w.w[0], 0.0, 1e-16);
}

TEST(SincGradBuilder, KeepsItsOwnCache) {
  sinc_grad(5, 10, 3.3);
  sinc(3, 10, 3.3);
  EXPECT_EQ(volaccess::sinc_grad_cache().oq, 5);
  EXPECT_EQ(volaccess::sinc_cache().oq, 3);
  poly_grad(6, 10, 3.3);
  EXPECT_EQ(volaccess::poly_grad_cache().oq, 6);
}

}  // namespace
