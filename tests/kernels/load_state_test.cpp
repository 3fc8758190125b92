// At load every type unit's lookup kernels use the Lagrange builders: run
// as one process, before any entry call has chosen a builder.
#include <gtest/gtest.h>

#include "unit_table.h"

namespace {

using kernels_test::TestVolume;

TEST(LoadState, EveryTypeUnitStartsWithTheLagrangeBuilders) {
  for (const kernels_test::Unit &unit : kernels_test::all_units()) {
    TestVolume vol(unit, 4, 1, 1, [](int i, int, int) { return 1.0 * i * i; });
    // Two Lagrange nodes interpolate linearly: 0.5 * 1 + 0.5 * 4 at x = 2.5;
    // the windowed sinc would not.
    const double x = 2.5, y = 1, z = 1;
    double value = 0.0, gx = 0.0, gy = 0.0, gz = 0.0;
    unit.resample_poly(1, vol.data(), &value, &x, &y, &z, 4, 1, 1, 2, 0.0, vol.scale(),
                       vol.offset());
    EXPECT_EQ(value, 2.5) << unit.suffix;
    unit.resample_d_poly(1, vol.data(), &value, &gx, &gy, &gz, &x, &y, &z, 4, 1, 1, 2, 0.0,
                         vol.scale(), vol.offset());
    EXPECT_EQ(value, 2.5) << unit.suffix;
    EXPECT_NEAR(gx, 3.0, 1e-9) << unit.suffix;
    double image[2] = {0.0, 0.0};
    const double mat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1.5, 0, 1, 1};
    EXPECT_EQ(
        unit.slice_poly(mat, image, 1, 1, vol.data(), 4, 1, 1, 2, 0.0, vol.scale(), vol.offset()),
        0);
    EXPECT_EQ(image[0], 2.5) << unit.suffix;
  }
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
