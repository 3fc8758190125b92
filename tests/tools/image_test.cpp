// Opening images (plain, compressed, pairs, from memory), building the
// host volume struct, and mapping it through the volume library.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>

#include "calvex/host.h"
#include "errors.h"
#include "header_bytes.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "scratch_bytes.h"
#include "volume_description.h"

namespace {

using vacli_test::ScratchDir;
using vaeng::Error;
using vaeng::NiftiImage;

std::string error_of(const std::function<void()> &f) {
  try {
    f();
  } catch (const Error &e) {
    return e.what();
  }
  return "no error";
}

// A 4x5x6 int16 image with voxel n holding n, after `header`.
std::vector<unsigned char> image_bytes(const nifti_1_header &header, std::size_t volumes = 1) {
  std::vector<unsigned char> bytes = vacli_test::bytes_of(header);
  bytes.resize(static_cast<std::size_t>(header.vox_offset), 0);
  for (int16_t n = 0; n < static_cast<int16_t>(120 * volumes); ++n) {
    unsigned char b[2];
    std::memcpy(b, &n, 2);
    bytes.insert(bytes.end(), b, b + 2);
  }
  return bytes;
}

std::vector<unsigned char> gzip_of(const ScratchDir &dir, const std::vector<unsigned char> &bytes) {
  const std::string path = dir.file("tmp.gz");
  gzFile gz = gzopen(path.c_str(), "wb");
  gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
  gzclose(gz);
  std::vector<unsigned char> out = dir.read("tmp.gz");
  ::unlink(path.c_str());
  return out;
}

double field(const hxArray *s, const char *name, std::size_t i) {
  return static_cast<const double *>(hxGetPr(hxGetField(s, 0, name)))[i];
}

TEST(ImageFileNames, PairsFindTheirOtherHalfInTheSameCase) {
  EXPECT_EQ(vaeng::image_file_names("a/b.hdr").data, "a/b.img");
  EXPECT_EQ(vaeng::image_file_names("a/b.img").header, "a/b.hdr");
  EXPECT_EQ(vaeng::image_file_names("B.HDR").data, "B.IMG");
  EXPECT_EQ(vaeng::image_file_names("b.hdr.gz").data, "b.img.gz");
  EXPECT_EQ(vaeng::image_file_names("b.nii").data, "b.nii");
}

TEST(NiftiImage, PlainFileHoldsHeaderAndVoxels) {
  ScratchDir dir;
  dir.write("a.nii", image_bytes(vacli_test::basic_v1()));
  const NiftiImage image = NiftiImage::open(dir.file("a.nii"));
  EXPECT_FALSE(image.compressed());
  EXPECT_EQ(image.data_size(), 352u + 240);
  EXPECT_EQ(image.data_name(), dir.file("a.nii"));
}

TEST(NiftiImage, CompressedFileIsDecompressedIntoAnUnnamedFile) {
  ScratchDir dir;
  const std::vector<unsigned char> plain = image_bytes(vacli_test::basic_v1());
  dir.write("a.nii.gz", gzip_of(dir, plain));
  const NiftiImage image = NiftiImage::open(dir.file("a.nii.gz"));
  EXPECT_TRUE(image.compressed());
  EXPECT_EQ(image.data_size(), plain.size());
  struct stat st {};
  ASSERT_EQ(::fstat(image.data_fd(), &st), 0);
  EXPECT_EQ(st.st_nlink, 0u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.nii.gz"}));
}

// A bomb: a small stream that holds far more than the header says the
// image takes. Only the image is decompressed, the chosen volume's worth
// when one is chosen; a header alone decompresses no voxel.
TEST(NiftiImage, CompressedStreamIsReadOnlyAsFarAsTheImageNeeds) {
  ScratchDir dir;
  nifti_1_header h = vacli_test::basic_v1();
  h.dim[0] = 4;
  h.dim[4] = 3;
  std::vector<unsigned char> plain = image_bytes(h, 3);
  const std::size_t image_size = plain.size();
  plain.resize(image_size + (64u << 20), 0);
  dir.write("bomb.nii.gz", gzip_of(dir, plain));
  const struct {
    int64_t volume;
    uint64_t size;
  } cases[] = {{0, image_size}, {1, 352 + 240}, {2, 352 + 480}, {3, image_size}};
  for (const auto &c : cases)
    EXPECT_EQ(NiftiImage::open(dir.file("bomb.nii.gz"), c.volume).data_size(), c.size) << c.volume;
  const NiftiImage header_only = NiftiImage::open_header(dir.file("bomb.nii.gz"));
  EXPECT_TRUE(header_only.compressed());
  EXPECT_FALSE(header_only.data_fd() >= 0);
}

// Headers that promise more voxels than the machine can hold are refused
// before any is decompressed; their header alone still reads.
TEST(NiftiImage, CompressedImageLargerThanMemoryIsRefusedUpFront) {
  ScratchDir dir;
  nifti_1_header h = vacli_test::basic_v1();
  h.dim[1] = h.dim[2] = h.dim[3] = 32767;
  h.datatype = 64;
  h.bitpix = 64;
  dir.write("huge.nii.gz", gzip_of(dir, vacli_test::bytes_of(h)));
  EXPECT_EQ(NiftiImage::read_header(dir.file("huge.nii.gz")).dim[2], 32767);
  EXPECT_EQ(NiftiImage::open_header(dir.file("huge.nii.gz")).header().dim[0], 32767);
  const std::string error = error_of([&] { NiftiImage::open(dir.file("huge.nii.gz")); });
  EXPECT_TRUE(std::regex_match(error, std::regex(".*huge.nii.gz: decompressed, the image takes 256.0 TiB, more than "
                                                 "half of the [0-9.]+ [KMGT]iB this program may use")))
      << error;
}

TEST(NiftiImage, PairIsOpenedFromEitherHalf) {
  ScratchDir dir;
  nifti_1_header h = vacli_test::basic_v1();
  std::memcpy(h.magic, "ni1\0", 4);
  h.vox_offset = 0;
  dir.write("p.hdr", vacli_test::bytes_of(h));
  std::vector<unsigned char> voxels = image_bytes(h);
  dir.write("p.img", voxels);
  for (const char *name : {"p.hdr", "p.img"}) {
    const NiftiImage image = NiftiImage::open(dir.file(name));
    EXPECT_FALSE(image.header().single_file);
    EXPECT_EQ(image.data_name(), dir.file("p.img"));
    EXPECT_EQ(image.data_size(), voxels.size());
  }
}

TEST(NiftiImage, PairHeaderUnderASingleFileNameIsRefused) {
  ScratchDir dir;
  nifti_1_header h = vacli_test::basic_v1();
  std::memcpy(h.magic, "ni1\0", 4);
  dir.write("p.nii", vacli_test::bytes_of(h));
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("p.nii")); }),
            dir.file("p.nii") +
                ": its header says the voxels are in a separate .img file, but the name does not end in .hdr");
}

TEST(NiftiImage, MissingOtherHalfIsNamed) {
  ScratchDir dir;
  nifti_1_header h = vacli_test::basic_v1();
  std::memcpy(h.magic, "ni1\0", 4);
  dir.write("p.hdr", vacli_test::bytes_of(h));
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("p.hdr")); }),
            dir.file("p.img") + ": cannot open: No such file or directory");
}

TEST(NiftiImage, CorruptAndTruncatedGzipAreRefused) {
  ScratchDir dir;
  std::vector<unsigned char> gz = gzip_of(dir, image_bytes(vacli_test::basic_v1()));
  std::vector<unsigned char> truncated(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(gz.size() / 2));
  dir.write("t.nii.gz", truncated);
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("t.nii.gz")); }),
            dir.file("t.nii.gz") + ": corrupt gzip data: unexpected end of file");
  gz[gz.size() - 6] ^= 0xff;  // the stored checksum
  dir.write("c.nii.gz", gz);
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("c.nii.gz")); }),
            dir.file("c.nii.gz") + ": corrupt gzip data: incorrect data check");
}

TEST(NiftiImage, DirectoriesAndEmptyFilesAreRefused) {
  ScratchDir dir;
  ::mkdir(dir.file("d.nii").c_str(), 0700);
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("d.nii")); }), dir.file("d.nii") + ": is a directory");
  ::rmdir(dir.file("d.nii").c_str());
  dir.write("e.nii", {});
  EXPECT_EQ(error_of([&] { NiftiImage::open(dir.file("e.nii")); }),
            dir.file("e.nii") + ": too short for a NIfTI header (0 bytes)");
}

TEST(NiftiImage, BytesInMemoryOpenLikeAFileCompressedOrNot) {
  ScratchDir dir;
  const std::vector<unsigned char> plain = image_bytes(vacli_test::basic_v1());
  const std::vector<unsigned char> gz = gzip_of(dir, plain);
  const NiftiImage a = NiftiImage::from_bytes(plain.data(), plain.size(), "mem");
  const NiftiImage b = NiftiImage::from_bytes(gz.data(), gz.size(), "mem.gz");
  EXPECT_EQ(a.data_size(), plain.size());
  EXPECT_EQ(b.data_size(), plain.size());
  EXPECT_TRUE(b.compressed());
}

TEST(VolumeStruct, CarriesDimTypePinfoMatAndTheOpenFile) {
  nifti_1_header h = vacli_test::basic_v1();
  h.dim[0] = 4;
  h.dim[4] = 2;
  h.scl_slope = 2;
  h.scl_inter = 5;
  h.pixdim[1] = 3;
  const std::vector<unsigned char> bytes = vacli_test::bytes_of(h, true);
  std::vector<unsigned char> file = bytes;
  file.resize(352 + 2 * 240, 0);
  const NiftiImage image = NiftiImage::from_bytes(file.data(), file.size(), "mem");
  const vaeng::HostArray s = vaeng::make_volume_struct(image, 2);
  EXPECT_EQ(field(s.get(), "dim", 0), 4.0);
  EXPECT_EQ(field(s.get(), "dim", 2), 6.0);
  EXPECT_EQ(field(s.get(), "dt", 0), 4.0);
  EXPECT_EQ(field(s.get(), "dt", 1), 1.0);
  EXPECT_EQ(field(s.get(), "pinfo", 0), 2.0);
  EXPECT_EQ(field(s.get(), "pinfo", 1), 5.0);
  EXPECT_EQ(field(s.get(), "pinfo", 2), 352.0 + 240);
  EXPECT_EQ(field(s.get(), "mat", 0), 3.0);
  EXPECT_EQ(field(s.get(), "mat", 12), -3.0);  // voxel 1 is the header's voxel 0
  char *fname = hxArrayToString(hxGetField(s.get(), 0, "fname"));
  EXPECT_EQ(std::string(fname), "/proc/self/fd/" + std::to_string(image.data_fd()));
  hxFree(fname);
}

TEST(MappedVolume, SamplesVoxelCentresExactly) {
  nifti_1_header h = vacli_test::basic_v1();
  h.scl_slope = 0.5;
  h.scl_inter = 1;
  const std::vector<unsigned char> file = image_bytes(h);
  const NiftiImage image = NiftiImage::from_bytes(file.data(), file.size(), "mem");
  const vaeng::MappedVolume volume(image, 1);
  const double x[] = {1, 4, 2}, y[] = {1, 5, 3}, z[] = {1, 6, 4};
  double out[3];
  ASSERT_EQ(resample(3, &volume.map(), out, x, y, z, 0, -1), 0);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 119 * 0.5 + 1);
  EXPECT_EQ(out[2], (1 + 2 * 4 + 3 * 20) * 0.5 + 1);
}

TEST(MappedVolume, LibraryMessagesReachTheUserVerbatim) {
  std::vector<unsigned char> file = image_bytes(vacli_test::basic_v1());
  file.pop_back();
  const NiftiImage image = NiftiImage::from_bytes(file.data(), file.size(), "short.nii");
  EXPECT_EQ(error_of([&] { vaeng::MappedVolume v(image, 1); }), "short.nii: File too small.");
  EXPECT_EQ(calvex::live_allocations(), 0u);
}

// 1 x 1 x (2^31 - 1) voxels are a legal header and a sparse file of 2 GiB,
// but the library's per-plane records would take 48 GiB.
TEST(MappedVolume, PlaneRecordsBeyondMemoryAreRefusedUpFront) {
  ScratchDir dir;
  nifti_2_header h2 = vacli_test::basic_v2();
  h2.dim[1] = h2.dim[2] = 1;
  h2.dim[3] = 2147483647;
  h2.datatype = 2;
  h2.bitpix = 8;
  dir.write("tall.nii", vacli_test::bytes_of(h2));
  ASSERT_EQ(::truncate(dir.file("tall.nii").c_str(), 544 + 2147483647LL), 0);
  const NiftiImage image = NiftiImage::open(dir.file("tall.nii"));
  const std::string error = error_of([&] { vaeng::MappedVolume v(image, 1); });
  EXPECT_TRUE(std::regex_match(error, std::regex(".*tall.nii: mapping its 2147483647 planes takes 48.0 GiB, more than "
                                                 "half of the [0-9.]+ [KMGT]iB this program may use")))
      << error;
  EXPECT_EQ(calvex::live_allocations(), 0u);
}

// Shortened by less than a page, the file still maps without a fault
// where it ended: only the size check sees it.
TEST(MappedVolume, FileShorterThanItsMappingIsReportedAsChanged) {
  ScratchDir dir;
  dir.write("a.nii", image_bytes(vacli_test::basic_v1()));
  const NiftiImage image = NiftiImage::open(dir.file("a.nii"));
  const vaeng::MappedVolume volume(image, 1);
  EXPECT_EQ(error_of([&] { volume.check_unchanged(); }), "no error");
  ASSERT_EQ(::truncate(dir.file("a.nii").c_str(), 352 + 239), 0);
  EXPECT_EQ(error_of([&] { volume.check_unchanged(); }),
            dir.file("a.nii") + ": the image changed on disk while it was being read");
}

TEST(MappedVolume, MissingVolumeIsNamed) {
  const std::vector<unsigned char> file = image_bytes(vacli_test::basic_v1());
  const NiftiImage image = NiftiImage::from_bytes(file.data(), file.size(), "a.nii");
  EXPECT_EQ(error_of([&] { vaeng::MappedVolume v(image, 2); }),
            "a.nii: volume 2 does not exist: the image holds 1 volume");
}

}  // namespace
