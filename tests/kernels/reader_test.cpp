// Fetching and converting voxels of every encoding, through plane_<t>.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "unit_table.h"

namespace {

using kernels_test::bits;
using kernels_test::TestVolume;
using kernels_test::unit_named;

// The real value of element 0 of a one-voxel plane holding raw bytes.
double read_raw(const char *suffix, const std::vector<unsigned char> &raw) {
  const kernels_test::Unit &unit = unit_named(suffix);
  EXPECT_EQ(raw.size(), unit.size);
  TestVolume vol(unit, 1, 1, 1, [](int, int, int) { return 0.0; });
  vol.put_raw(0, 0, raw.data());
  double out = -1.0;
  unit.plane(1, &out, vol.data(), 1, 1, vol.scale(), vol.offset());
  return out;
}

TEST(VoxelReader, AllOnesReadsBySignedness) {
  EXPECT_EQ(read_raw("short", {0xFF, 0xFF}), -1.0);
  EXPECT_EQ(read_raw("ushort", {0xFF, 0xFF}), 65535.0);
  EXPECT_EQ(read_raw("schar", {0xFF}), -1.0);
  EXPECT_EQ(read_raw("uchar", {0xFF}), 255.0);
  EXPECT_EQ(read_raw("uint", {0xFF, 0xFF, 0xFF, 0xFF}), 4294967295.0);
  EXPECT_EQ(read_raw("int", {0xFF, 0xFF, 0xFF, 0xFF}), -1.0);
}

TEST(VoxelReader, SixtyFourBitIntegersRoundToNearest) {
  std::vector<unsigned char> all_ones(8, 0xFF);
  EXPECT_EQ(read_raw("uint64", all_ones), 18446744073709551616.0);
  EXPECT_EQ(read_raw("int64", all_ones), -1.0);
  const int64_t above = 9007199254740993;  // 2^53 + 1
  std::vector<unsigned char> raw(8);
  std::memcpy(raw.data(), &above, 8);
  EXPECT_EQ(read_raw("int64", raw), 9007199254740992.0);
  const uint64_t top = 0x8000000000000001u;  // stays positive
  std::memcpy(raw.data(), &top, 8);
  EXPECT_EQ(read_raw("uint64", raw), 9223372036854775808.0);
  const uint64_t tie = (1ull << 53) + 3;  // ties to even upward
  std::memcpy(raw.data(), &tie, 8);
  EXPECT_EQ(read_raw("uint64", raw), 9007199254740996.0);
}

TEST(VoxelReader, SwappedShortReadsThroughTheReader) {
  // Stored bytes 0x01, 0x02 read natively as 0x0201, reversed to 0x0102.
  EXPECT_EQ(read_raw("short_s", {0x01, 0x02}), 258.0);
  EXPECT_EQ(read_raw("ushort_s", {0xFF, 0x7F}), 65407.0);
  EXPECT_EQ(read_raw("short_s", {0xFF, 0x7F}), -129.0);
  EXPECT_EQ(read_raw("int_s", {0x00, 0x00, 0x01, 0x00}), 256.0);
  EXPECT_EQ(read_raw("uint_s", {0xFF, 0xFF, 0xFF, 0xFE}), 4294967294.0);
  EXPECT_EQ(read_raw("int64_s", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), -2.0);
  EXPECT_EQ(read_raw("uint64_s", {0, 0, 0, 0, 0, 0, 0x01, 0x00}), 256.0);
}

TEST(VoxelReader, SwappedFloatsKeepTheirBitPattern) {
  EXPECT_EQ(read_raw("float_s", {0x3F, 0xC0, 0x00, 0x00}), 1.5);
  EXPECT_EQ(read_raw("double_s", {0xC0, 0x04, 0, 0, 0, 0, 0, 0}), -2.5);
  // A denormal single widens exactly.
  EXPECT_EQ(read_raw("float_s", {0x00, 0x00, 0x00, 0x01}), std::ldexp(1.0, -149));
  // A double NaN pattern with a payload survives unchanged.
  const double nan = read_raw("double_s", {0x7F, 0xF8, 0, 0, 0, 0, 0x12, 0x34});
  EXPECT_EQ(bits(nan), 0x7FF8000000001234u);
}

TEST(VoxelReader, SwappedFloatNaNYieldsNaN) {
  EXPECT_TRUE(std::isnan(read_raw("float_s", {0x7F, 0xC0, 0x00, 0x01})));
  EXPECT_TRUE(std::isnan(read_raw("float_s", {0x7F, 0x80, 0x00, 0x01})));  // signalling
}

TEST(VoxelReader, EveryEncodingReadsItsSmallIntegersExactly) {
  for (const kernels_test::Unit &unit : kernels_test::all_units()) {
    TestVolume vol(unit, 5, 3, 1, [](int i, int j, int) { return 7.0 * i + 30.0 * j; });
    std::vector<double> image(15, -1.0);
    unit.plane(1, image.data(), vol.data(), 5, 3, vol.scale(), vol.offset());
    for (int e = 0; e < 15; ++e) {
      EXPECT_EQ(image[static_cast<std::size_t>(e)], 7.0 * (e % 5) + 30.0 * (e / 5)) << unit.suffix;
    }
  }
}

TEST(PlaneCopy, AppliesTheScaleAndOffsetOfThePlane) {
  const kernels_test::Unit &unit = unit_named("short");
  TestVolume vol(unit, 2, 2, 3, [](int i, int, int k) { return 3.0 + i + 10.0 * k; });
  vol.set_plane_scaling(2, 2.0, -1.0);
  std::vector<double> image(4, 0.0);
  unit.plane(3, image.data(), vol.data(), 2, 2, vol.scale(), vol.offset());
  EXPECT_EQ(image[0], 2.0 * 23.0 - 1.0);
  EXPECT_EQ(image[1], 2.0 * 24.0 - 1.0);
  EXPECT_EQ(image[3], 2.0 * 24.0 - 1.0);
  TestVolume small(unit, 1, 1, 1, [](int, int, int) { return 3.0; });
  small.set_plane_scaling(0, 2.0, -1.0);
  unit.plane(1, image.data(), small.data(), 1, 1, small.scale(), small.offset());
  EXPECT_EQ(image[0], 5.0);
}

TEST(PlaneCopy, EmptyOrNegativeSizeWritesNothing) {
  const kernels_test::Unit &unit = unit_named("float");
  TestVolume vol(unit, 2, 2, 1, [](int, int, int) { return 1.0; });
  std::vector<double> image(4, -3.0);
  unit.plane(1, image.data(), vol.data(), 0, 2, vol.scale(), vol.offset());
  unit.plane(1, image.data(), vol.data(), 2, -1, vol.scale(), vol.offset());
  for (double v : image) EXPECT_EQ(v, -3.0);
}

TEST(PlaneCopy, NaNVoxelStaysNaN) {
  const kernels_test::Unit &unit = unit_named("double");
  TestVolume vol(unit, 2, 1, 1, [](int i, int, int) {
    return i == 0 ? std::numeric_limits<double>::quiet_NaN() : 2.0;
  });
  std::vector<double> image(2, 0.0);
  unit.plane(1, image.data(), vol.data(), 2, 1, vol.scale(), vol.offset());
  EXPECT_TRUE(std::isnan(image[0]));
  EXPECT_EQ(image[1], 2.0);
}

}  // namespace
