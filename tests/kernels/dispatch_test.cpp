// The three entry points: every type code reaches the kernels of its own
// encoding, unknown codes fail without touching any output, and statuses
// pass through.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "unit_table.h"

namespace {

using kernels_test::bits;
using kernels_test::TestVolume;

// Stored bytes whose value differs between every two encodings: the most
// significant byte in either order has its top bit set, and the widths
// read different bytes.
std::vector<unsigned char> telltale(std::size_t size) {
  switch (size) {
    case 1: return {0x81};
    case 2: return {0x81, 0x92};
    case 4: return {0x81, 0x02, 0x03, 0x94};
    default: return {0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x98};
  }
}

TEST(Dispatch, EveryTypeCodeReadsThroughItsOwnEncoding) {
  for (const kernels_test::Unit &unit : kernels_test::all_units()) {
    TestVolume vol(unit, 1, 1, 1, [](int, int, int) { return 0.0; });
    const std::vector<unsigned char> raw = telltale(unit.size);
    vol.put_raw(0, 0, raw.data());
    const double expected = unit.decode(raw.data());
    const VolumeMap map = vol.map();
    const double x = 1, y = 1, z = 1;
    double out = 0.0, gx = 1.0, gy = 1.0, gz = 1.0;
    EXPECT_EQ(resample(1, &map, &out, &x, &y, &z, 0, -1.0), 0);
    EXPECT_EQ(bits(out), bits(expected)) << unit.suffix;
    EXPECT_EQ(resample_d(1, &map, &out, &gx, &gy, &gz, &x, &y, &z, 0, -1.0), 0);
    EXPECT_EQ(bits(out), bits(expected)) << unit.suffix;
    EXPECT_EQ(gx, 0.0);
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 1};
    double image = 0.0;
    EXPECT_EQ(slice(identity, &image, 1, 1, &map, 0, -1.0), 0);
    EXPECT_EQ(bits(image), bits(expected)) << unit.suffix;
  }
}

TEST(Dispatch, TelltaleValuesDifferBetweenEveryTwoEncodings) {
  const auto &units = kernels_test::all_units();
  for (std::size_t a = 0; a < units.size(); ++a) {
    for (std::size_t b = a + 1; b < units.size(); ++b) {
      const double va = units[a].decode(telltale(units[a].size).data());
      const double vb = units[b].decode(telltale(units[b].size).data());
      EXPECT_NE(bits(va), bits(vb)) << units[a].suffix << " " << units[b].suffix;
    }
  }
}

TEST(Dispatch, PassesTheRecordAndArgumentsToTheKernel) {
  const kernels_test::Unit &unit = kernels_test::unit_named("float_s");
  TestVolume vol(unit, 5, 4, 3, [](int i, int j, int k) { return i + 5.0 * j + 20.0 * k; });
  vol.set_plane_scaling(1, 2.0, -3.0);
  const VolumeMap map = vol.map();
  const std::vector<double> x = {1.3, 2.5, 9.0, 4.2}, y = {1.1, 3.9, 1.0, 2.0},
                            z = {2.5, 1.2, 1.0, 2.9};
  for (int32_t hold : {0, 1, 3, -2}) {
    std::vector<double> via(4), direct(4), dvia(12), ddirect(12);
    resample(4, &map, via.data(), x.data(), y.data(), z.data(), hold, -9.0);
    unit.resample(4, vol.data(), direct.data(), x.data(), y.data(), z.data(), 5, 4, 3, hold, -9.0,
                  vol.scale(), vol.offset());
    resample_d(4, &map, via.data(), dvia.data(), dvia.data() + 4, dvia.data() + 8, x.data(),
               y.data(), z.data(), hold, -9.0);
    unit.resample_d(4, vol.data(), direct.data(), ddirect.data(), ddirect.data() + 4,
                    ddirect.data() + 8, x.data(), y.data(), z.data(), 5, 4, 3, hold, -9.0,
                    vol.scale(), vol.offset());
    for (std::size_t p = 0; p < 4; ++p) EXPECT_EQ(bits(via[p]), bits(direct[p])) << hold;
    for (std::size_t p = 0; p < 12; ++p) EXPECT_EQ(bits(dvia[p]), bits(ddirect[p])) << hold;
    EXPECT_EQ(via[2], -9.0);
  }
}

TEST(Dispatch, UnknownTypeCodesFailWithoutTouchingOutputs) {
  TestVolume vol(kernels_test::unit_named("uchar"), 2, 2, 2, [](int, int, int) { return 1.0; });
  for (int32_t code : {0, 32898, 32770, 1, 3, 256, 512, 768, -4, 65535}) {
    VolumeMap map = vol.map();
    map.dtype = code;
    const double x = 1, y = 1, z = 1;
    double out = 5.0, gx = 6.0, gy = 7.0, gz = 8.0, image[4] = {9, 9, 9, 9};
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 1};
    const std::string expected = std::to_string(code) + ": Unknown datatype.\n";
    testing::internal::CaptureStderr();
    EXPECT_EQ(resample(1, &map, &out, &x, &y, &z, 1, 0.0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    testing::internal::CaptureStderr();
    EXPECT_EQ(resample_d(1, &map, &out, &gx, &gy, &gz, &x, &y, &z, 1, 0.0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    testing::internal::CaptureStderr();
    EXPECT_EQ(slice(identity, image, 2, 2, &map, 1, 0.0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(out, 5.0);
    EXPECT_EQ(gx + gy + gz, 21.0);
    for (double v : image) EXPECT_EQ(v, 9.0);
  }
}

TEST(Dispatch, ResampleSucceedsForEmptyRequests) {
  TestVolume vol(kernels_test::unit_named("short"), 2, 2, 2, [](int, int, int) { return 1.0; });
  const VolumeMap map = vol.map();
  double out = 5.0;
  EXPECT_EQ(resample(0, &map, &out, nullptr, nullptr, nullptr, 1, 0.0), 0);
  EXPECT_EQ(resample(-4, &map, &out, nullptr, nullptr, nullptr, -3, 0.0), 0);
  EXPECT_EQ(resample_d(0, &map, &out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0.0),
            0);
  EXPECT_EQ(out, 5.0);
}

TEST(Dispatch, SlicePassesTheKernelStatusThrough) {
  TestVolume vol(kernels_test::unit_named("int64_s"), 3, 3, 3, [](int, int, int) { return 2.0; });
  const VolumeMap map = vol.map();
  double image[9] = {};
  const double zero_w[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0};
  EXPECT_EQ(slice(zero_w, image, 3, 3, &map, 1, 0.0), -1);
  const double tilted[16] = {1, 0, 0.1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 2, 1};
  EXPECT_EQ(slice(tilted, image, 3, 3, &map, -2, 0.0), 0);
  EXPECT_NEAR(image[4], 2.0, 1e-12);
}

}  // namespace
