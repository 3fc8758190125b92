// Sizes past 32 bits, for real: sparse files of more than 4 GiB are mapped
// whole and sampled at their last plane.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "calvex/host.h"
#include "volaccess.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

hxArray *row(std::initializer_list<double> values) {
  hxArray *a = hxCreateDoubleMatrix(1, values.size(), hxREAL);
  std::copy(values.begin(), values.end(), static_cast<double *>(hxGetPr(a)));
  return a;
}

class LargeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (fs::temp_directory_path() / ("large_file_test_" + std::to_string(getpid()))).string();
  }
  void TearDown() override {
    hxDestroyArray(volume_);
    fs::remove(path_);
  }

  // A sparse file of `size` bytes: only the blocks written take disk space.
  void make_sparse(uint64_t size) {
    const int fd = open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
  }

  void write_at(uint64_t position, const void *bytes, std::size_t n) {
    const int fd = open(path_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes, n, static_cast<off_t>(position)), static_cast<ssize_t>(n));
    close(fd);
  }

  void describe(std::initializer_list<double> dim, std::initializer_list<double> dt, hxArray *pinfo) {
    const hxSize one[2] = {1, 1};
    volume_ = hxCreateStructArray(2, one, 0, nullptr);
    hxSetField(volume_, 0, "fname", hxCreateString(path_.c_str()));
    hxSetField(volume_, 0, "dim", row(dim));
    hxSetField(volume_, 0, "dt", row(dt));
    if (pinfo) hxSetField(volume_, 0, "pinfo", pinfo);
  }

  // Samples one point by nearest neighbour; records are released after.
  // The last plane's byte position within the mapping goes to *position,
  // the mapping's length to *length.
  double sample(double x, double y, double z, std::ptrdiff_t *position = nullptr, uint64_t *length = nullptr) {
    double out = -1;
    calvex::CallResult r = calvex::call_boundary([&] {
      int32_t n = 0;
      VolumeMap *maps = get_maps(volume_, &n);
      if (position) {
        const VolumeMap &last = maps[0];
        *position =
            static_cast<unsigned char *>(last.data[last.dim[2] - 1]) - static_cast<unsigned char *>(last.map_addr);
        *length = last.map_len;
      }
      EXPECT_EQ(resample(1, &maps[0], &out, &x, &y, &z, 0, -7.0), 0);
      free_maps(maps, n);
    });
    EXPECT_TRUE(r.ok) << r.message;
    return out;
  }

  std::string path_;
  hxArray *volume_ = nullptr;
};

TEST_F(LargeFile, PlaneBeyondFourGiBIsAddressedExactly) {
  const uint64_t last_plane = kFourGiB + 1000;
  make_sparse(last_plane + 16 * 16 * 2);
  const int16_t value = -12345;
  write_at(last_plane + (3 + 16 * 5) * 2, &value, sizeof value);
  hxArray *pinfo = hxCreateDoubleMatrix(3, 2, hxREAL);
  const double columns[6] = {1, 0, 0, 2, 0.5, static_cast<double>(last_plane)};
  std::memcpy(hxGetPr(pinfo), columns, sizeof columns);
  describe({16, 16, 2}, {4, 0}, pinfo);
  std::ptrdiff_t position = 0;
  uint64_t length = 0;
  EXPECT_EQ(sample(4, 6, 2, &position, &length), 2.0 * value + 0.5);
  EXPECT_EQ(length, last_plane + 512);
  EXPECT_EQ(position, static_cast<std::ptrdiff_t>(last_plane));
}

TEST_F(LargeFile, VolumeBeyondFourGiBIsSampledAtItsLastPlane) {
  // 4096 x 4096 uint16 planes of 32 MiB; 129 of them make 4 GiB + 32 MiB.
  const uint64_t plane = 4096ull * 4096ull * 2ull;
  make_sparse(plane * 129);
  const uint16_t value = 0xBEEF;  // stored swapped: reads as 0xEFBE
  write_at(plane * 128 + (4095 + 4096ull * 4095) * 2, &value, sizeof value);
  describe({4096, 4096, 129}, {512, 1}, nullptr);
  EXPECT_EQ(sample(4096, 4096, 129), double(0xEFBE));
  EXPECT_EQ(sample(4095, 4096, 129), 0.0);
}

TEST_F(LargeFile, FileOneByteShortOfALargeVolumeIsRefused) {
  const uint64_t plane = 4096ull * 4096ull * 2ull;
  make_sparse(plane * 129 - 1);
  describe({4096, 4096, 129}, {4, 0}, nullptr);
  calvex::CallResult r = calvex::call_boundary([&] {
    int32_t n = 0;
    free_maps(get_maps(volume_, &n), n);
  });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "File too small.");
}

}  // namespace
