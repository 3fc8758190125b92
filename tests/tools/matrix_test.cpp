#include "matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using vaeng::Mat4;

TEST(Matrix, RowsBecomeColumnMajorElements) {
  const Mat4 m = vaeng::from_rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  EXPECT_EQ(m[1], 5.0);   // row 1, column 0
  EXPECT_EQ(m[12], 4.0);  // row 0, column 3
  EXPECT_EQ(vaeng::at(m, 2, 1), 10.0);
}

TEST(Matrix, ProductAppliesTheRightFactorFirst) {
  const Mat4 shift = vaeng::translation4(1, 2, 3);
  Mat4 scale = vaeng::identity4();
  scale[0] = 2;
  EXPECT_EQ(vaeng::apply_point(vaeng::multiply(scale, shift), {1, 1, 1}), (vaeng::Vec3{4, 3, 4}));
}

TEST(Matrix, InverseUndoesAnAffine) {
  const Mat4 m = vaeng::from_rows({0, -2, 0, 5, 3, 0, 0, -1, 0, 0, 0.5, 2, 0, 0, 0, 1});
  Mat4 inv{};
  ASSERT_TRUE(vaeng::invert(m, &inv));
  const Mat4 p = vaeng::multiply(m, inv);
  const Mat4 id = vaeng::identity4();
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(p[static_cast<std::size_t>(i)], id[static_cast<std::size_t>(i)], 1e-15);
}

TEST(Matrix, SingularAndNonFiniteMatricesHaveNoInverse) {
  Mat4 inv{};
  Mat4 flat = vaeng::identity4();
  flat[10] = 0;
  EXPECT_FALSE(vaeng::invert(flat, &inv));
  EXPECT_FALSE(vaeng::invert(Mat4{}, &inv));
  Mat4 nan = vaeng::identity4();
  nan[5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(vaeng::invert(nan, &inv));
  Mat4 nearly = vaeng::from_rows({1, 2, 0, 0, 2, 4 + 1e-14, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  EXPECT_FALSE(vaeng::invert(nearly, &inv));
}

TEST(Matrix, AHugeTranslationLeavesAWellConditionedAffineInvertible) {
  const Mat4 far = vaeng::translation4(5e12, -5e12, 5e12);
  Mat4 inv{};
  ASSERT_TRUE(vaeng::invert(far, &inv));
  EXPECT_EQ(vaeng::apply_point(inv, {5e12, -5e12, 5e12}), (vaeng::Vec3{0, 0, 0}));
  Mat4 flat = far;
  flat[10] = 0;
  EXPECT_FALSE(vaeng::invert(flat, &inv));
}

}  // namespace
