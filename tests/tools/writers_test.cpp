// The output side: stored values, the atomic output file, .npy, PNG and
// NIfTI headers that read back through the header parser.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "errors.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "npy_writer.h"
#include "output_file.h"
#include "png_writer.h"
#include "scratch_bytes.h"
#include "stored_values.h"
#include "unique_fd.h"

namespace {

using vacli_test::ScratchDir;

TEST(StoredValues, IntegersRoundHalfAwayFromZeroAndClamp) {
  EXPECT_EQ(vaeng::round_and_clamp<int16_t>(2.5), 3);
  EXPECT_EQ(vaeng::round_and_clamp<int16_t>(-2.5), -3);
  EXPECT_EQ(vaeng::round_and_clamp<int16_t>(40000), 32767);
  EXPECT_EQ(vaeng::round_and_clamp<int16_t>(-40000), -32768);
  EXPECT_EQ(vaeng::round_and_clamp<uint8_t>(-3), 0);
  EXPECT_EQ(vaeng::round_and_clamp<uint8_t>(255.4), 255);
  EXPECT_EQ(vaeng::round_and_clamp<int64_t>(1e19), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(vaeng::round_and_clamp<int64_t>(-1e19), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(vaeng::round_and_clamp<uint64_t>(1e20), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(vaeng::round_and_clamp<uint32_t>(std::nan("")), 0u);
  EXPECT_EQ(vaeng::round_and_clamp<int32_t>(-INFINITY), std::numeric_limits<int32_t>::min());
}

TEST(StoredValues, ScaleAndOffsetAreUndoneBeforeStoring) {
  std::vector<unsigned char> bytes;
  const double values[] = {10.0, 10.5, 11.0};
  vaeng::append_stored(values, 3, *vaeng::find_nifti_datatype(4), 0.25, 10, &bytes);
  int16_t stored[3];
  ASSERT_EQ(bytes.size(), sizeof stored);
  std::memcpy(stored, bytes.data(), sizeof stored);
  EXPECT_EQ(stored[0], 0);
  EXPECT_EQ(stored[1], 2);
  EXPECT_EQ(stored[2], 4);
}

TEST(OutputFile, AppearsOnlyWhenCommitted) {
  ScratchDir dir;
  {
    vaeng::OutputFile out(dir.file("a.bin"));
    vaeng::write_all(out.fd(), "xyz", 3, "a.bin");
    EXPECT_TRUE(dir.entries().empty());
    out.commit();
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.bin"}));
  EXPECT_EQ(dir.read("a.bin"), (std::vector<unsigned char>{'x', 'y', 'z'}));
}

TEST(OutputFile, AbandonedFileLeavesNothingAndKeepsTheOldOne) {
  ScratchDir dir;
  dir.write("a.bin", {'o', 'l', 'd'});
  {
    vaeng::OutputFile out(dir.file("a.bin"));
    vaeng::write_all(out.fd(), "new", 3, "a.bin");
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.bin"}));
  EXPECT_EQ(dir.read("a.bin"), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

TEST(OutputFile, MissingFolderIsAnError) {
  ScratchDir dir;
  EXPECT_THROW(vaeng::OutputFile(dir.file("no/such/a.bin")), vaeng::Error);
}

// The fallback where the file system has no unnamed files: the hidden
// name fits a file name of 255 bytes, and the file gets the umask's mode.
TEST(OutputFile, HiddenTemporaryFitsLongNamesAndFollowsTheUmask) {
  ScratchDir dir;
  const struct {
    std::size_t name_length;
    mode_t umask, mode;
  } cases[] = {{5, 022, 0644}, {255, 022, 0644}, {255, 077, 0600}, {40, 002, 0664}};
  for (const auto &c : cases) {
    const mode_t old = ::umask(c.umask);
    std::string name;
    const vaeng::UniqueFd fd = vaeng::create_hidden_beside(dir.file(std::string(c.name_length, 'n')), &name);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::fstat(fd.get(), &st), 0) << c.name_length;
    EXPECT_EQ(st.st_mode & 0777, c.mode) << c.name_length;
    EXPECT_LE(name.size() - name.rfind('/') - 1, 255u);
    ::unlink(name.c_str());
  }
}

// A FIFO or a character device named as the output is written into and
// stays what it is.
TEST(OutputFile, CharacterDeviceIsWrittenInPlace) {
  {
    vaeng::OutputFile out("/dev/null");
    vaeng::write_all(out.fd(), "xyz", 3, "/dev/null");
    out.commit();
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(Npy, HeaderIsAlignedAndDescribesFortranOrderDoubles) {
  const std::string h = vaeng::npy_header(3, 2);
  EXPECT_EQ(h.size() % 64, 0u);
  EXPECT_EQ(h.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
  EXPECT_NE(h.find("{'descr': '<f8', 'fortran_order': True, 'shape': (3, 2), }"), std::string::npos);
  EXPECT_EQ(h.back(), '\n');
  EXPECT_EQ(static_cast<std::size_t>(static_cast<unsigned char>(h[8])) + 10, h.size());
}

TEST(Png, GreyLevelsFollowTheWindow) {
  const vaeng::Window w{10, 20};
  EXPECT_EQ(vaeng::grey_level(5, w), 0);
  EXPECT_EQ(vaeng::grey_level(15, w), 128);
  EXPECT_EQ(vaeng::grey_level(25, w), 255);
  EXPECT_EQ(vaeng::grey_level(std::nan(""), w), 0);
}

TEST(Png, RobustWindowIgnoresOutliersAndNonFiniteValues) {
  std::vector<double> v;
  for (int i = 0; i < 1000; ++i) v.push_back(i);
  v[0] = -1e9;
  v[999] = 1e9;
  v.push_back(std::nan(""));
  const vaeng::Window w = vaeng::robust_window(v);
  EXPECT_EQ(w.low, 10.0);
  EXPECT_EQ(w.high, 989.0);
  EXPECT_EQ(vaeng::percentile({}, 50), 0.0);
}

TEST(Png, WritesAPictureWithTheSignature) {
  ScratchDir dir;
  vaeng::write_png(dir.file("p.png"), {0, 1, 2, 3, 4, 5}, 3, 2, vaeng::Window{0, 5});
  const std::vector<unsigned char> bytes = dir.read("p.png");
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8), 0);
}

vaeng::NiftiLayout sample_layout() {
  vaeng::NiftiLayout layout;
  layout.dim = {3, 2, 2};
  layout.datatype = vaeng::find_nifti_datatype(512);
  layout.scale = 0.5;
  layout.offset = -1;
  layout.geometry.sform_code = 2;
  layout.geometry.srow = {2, 0, 0, 1, 0, 3, 0, 2, 0, 0, 4, 3};
  layout.geometry.pixdim = {2, 3, 4};
  return layout;
}

TEST(NiftiWriter, HeaderReadsBackWithItsGeometryAndScaling) {
  const std::vector<unsigned char> bytes = vaeng::nifti_header_bytes(sample_layout());
  ASSERT_EQ(bytes.size(), 352u);
  const vaeng::NiftiHeader h = vaeng::parse_nifti_header(bytes.data(), bytes.size(), "out.nii");
  EXPECT_EQ(h.dim, (std::array<int64_t, 3>{3, 2, 2}));
  EXPECT_EQ(h.datatype->code, 512);
  EXPECT_EQ(h.scale, 0.5);
  EXPECT_EQ(h.offset, -1.0);
  EXPECT_EQ(h.vox_offset, 352u);
  EXPECT_EQ(h.voxel_to_world, (vaeng::Mat4{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1}));
}

TEST(NiftiWriter, WideImagesBecomeNifti2) {
  vaeng::NiftiLayout layout = sample_layout();
  layout.dim = {40000, 1, 1};
  const std::vector<unsigned char> bytes = vaeng::nifti_header_bytes(layout);
  ASSERT_EQ(bytes.size(), 544u);
  const vaeng::NiftiHeader h = vaeng::parse_nifti_header(bytes.data(), bytes.size(), "out.nii");
  EXPECT_EQ(h.version, 2);
  EXPECT_EQ(h.dim[0], 40000);
}

TEST(NiftiWriter, CompressedImageReadsBackPlaneByPlane) {
  ScratchDir dir;
  vaeng::NiftiWriter writer(dir.file("o.nii.gz"), sample_layout());
  writer.write_plane({-1, -0.5, 0, 0.5, 1, 1.5});
  writer.write_plane({2, 2.5, 3, 3.5, 4, 4.5});
  writer.finish();
  const vaeng::NiftiImage image = vaeng::NiftiImage::open(dir.file("o.nii.gz"));
  EXPECT_TRUE(image.compressed());
  ASSERT_EQ(image.data_size(), 352u + 12 * 2);
  uint16_t stored[12];
  vaeng::read_at(image.data_fd(), stored, sizeof stored, 352, "o.nii.gz");
  for (uint16_t i = 0; i < 12; ++i) EXPECT_EQ(stored[i], i);
}

TEST(NiftiWriter, MissingPlanesLeaveNoFile) {
  ScratchDir dir;
  {
    vaeng::NiftiWriter writer(dir.file("o.nii"), sample_layout());
    writer.write_plane({0, 0, 0, 0, 0, 0});
    EXPECT_THROW(writer.finish(), vaeng::Error);
  }
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
