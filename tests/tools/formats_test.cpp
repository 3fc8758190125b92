// The readers of MGH, NRRD and MetaImage headers on bytes the tests build:
// what each refuses, and with which words; FreeSurfer's geometry without
// its flag; and compressed voxels read only as far as the volume asked for.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "errors.h"
#include "image_formats.h"
#include "nifti_image.h"
#include "scratch_bytes.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// An MGH header of `type` and these dimensions, its geometry flag unset.
Bytes mgh(int32_t type, const std::array<int32_t, 4> &dim, std::size_t size = vaeng::kMghHeaderBytes) {
  Bytes b(size, 0);
  auto put = [&b](std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
  };
  put(0, 1);
  for (std::size_t i = 0; i < 4; ++i) put(4 + 4 * i, dim[i]);
  put(20, type);
  return b;
}

const std::string kNrrd =
    "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 3 4\nendian: little\nencoding: raw\n"
    "space: left-posterior-superior\nspace directions: (1,0,0) (0,2,0) (0,0,3)\nspace origin: (5,6,7)\n\n";
const std::string kMeta =
    "ObjectType = Image\nNDims = 3\nDimSize = 2 3 4\nElementType = MET_SHORT\nElementSpacing = 1 2 3\n"
    "Offset = 5 6 7\nElementDataFile = LOCAL\n";

std::string replaced(std::string s, const std::string &from, const std::string &to) {
  return s.replace(s.find(from), from.size(), to);
}

std::string error_of(const std::function<void()> &f) {
  try {
    f();
  } catch (const vaeng::Error &e) {
    return e.what();
  }
  return "no error";
}

struct Refusal {
  const char *format;  // "mgh", "nrrd", "mha"
  Bytes bytes;
  const char *words;
};

TEST(ForeignHeaders, BadHeadersAreRefusedWithTheirReason) {
  const Refusal cases[] = {
      {"mgh", mgh(0, {2, 2, 2, 1}, 89), "truncated MGH header: 89 of 90 bytes"},
      {"mgh", mgh(2, {2, 2, 2, 1}), "MGH voxel type 2 is not supported"},
      {"mgh", mgh(0, {2, 0, 2, 1}), "dimension 2 is 0"},
      {"mgh", mgh(0, {2, 2, 2, -3}), "dimension 4 is negative"},
      {"mgh", mgh(3, {2147483647, 2147483647, 2, 1}), "a plane holds at most"},
      {"nrrd", text("NRRD0009\n"), "not a NRRD file"},
      {"nrrd", text(replaced(kNrrd, "type: short\n", "")), "no \"type\" field"},
      {"nrrd", text(replaced(kNrrd, "encoding: raw", "encoding: bzip2")), "encoding 'bzip2' is not supported"},
      {"nrrd", text(replaced(kNrrd, "endian: little\n", "")), "no \"endian\" field"},
      {"nrrd", text(replaced(kNrrd, "sizes: 2 3 4", "sizes: 2 3")), "sizes holds 2 numbers, not 3"},
      {"nrrd", text(replaced(kNrrd, "sizes: 2 3 4", "sizes: 2 3 0")), "axis 3 holds 0 voxels"},
      {"nrrd", text(replaced(kNrrd, "left-posterior-superior", "3D-left-handed")), "NRRD space '3D-left-handed'"},
      {"nrrd", text(replaced(kNrrd, "(1,0,0) (0,2,0)", "none (0,2,0)")), "axis 1 is not spatial"},
      {"nrrd", text(replaced(kNrrd, "\n\n", "\n")), "does not end with an empty line"},
      {"nrrd", text(replaced(kNrrd, "\n\n", "\nline skip: 2\n\n")), "line skip (only 0 is supported)"},
      {"nrrd", text(replaced(kNrrd, "\n\n", "\ndata file: LIST\n")), "split over several files"},
      {"mha", text(replaced(kMeta, "ElementDataFile = LOCAL\n", "")), "no ElementDataFile line"},
      {"mha", text(replaced(kMeta, "NDims = 3", "NDims = 2")), "NDims: '2' is not a whole number from 3 to 4"},
      {"mha", text(replaced(kMeta, "MET_SHORT", "MET_STRING")), "ElementType 'MET_STRING' is not supported"},
      {"mha", text(replaced(kMeta, "Offset = 5 6 7", "Offset = 5 6")), "Offset holds 2 numbers, not 3"},
      {"mha", text(replaced(kMeta, "NDims = 3", "NDims = 3\nElementNumberOfChannels = 3")),
       "ElementNumberOfChannels (only 1 is supported)"},
      {"mha", text(replaced(kMeta, "ObjectType = Image", "ObjectType = Mesh")), "ObjectType 'Mesh' is not Image"},
  };
  for (const Refusal &c : cases) {
    const std::string name = std::string("x.") + c.format;
    const std::string message = error_of([&] {
      if (c.format == std::string("mgh")) vaeng::parse_mgh_header(c.bytes.data(), c.bytes.size(), name);
      if (c.format == std::string("nrrd")) vaeng::parse_nrrd_header(c.bytes.data(), c.bytes.size(), name);
      if (c.format == std::string("mha")) vaeng::parse_metaimage_header(c.bytes.data(), c.bytes.size(), name);
    });
    EXPECT_EQ(message.rfind(name + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
  }
}

TEST(ForeignHeaders, MghWithoutItsGeometryFlagHasFreeSurfersCoronalSlices) {
  const Bytes b = mgh(0, {4, 6, 8, 1});
  const vaeng::NiftiHeader h = vaeng::parse_mgh_header(b.data(), b.size(), "x.mgh").header;
  const vaeng::Mat4 expected =
      vaeng::from_rows({-1, 0, 0, 2, 0, 0, 1, -4, 0, -1, 0, 3, 0, 0, 0, 1});  // centre voxel (2, 3, 4) at 0
  EXPECT_EQ(h.voxel_to_world, expected);
}

TEST(ForeignHeaders, EachNrrdSpaceTurnsIntoRas) {
  // The scanner's space and "3D-right-handed" as ITK reads them: LPS.
  const vaeng::Mat4 lps = vaeng::from_rows({-1, 0, 0, -5, 0, -2, 0, -6, 0, 0, 3, 7, 0, 0, 0, 1});
  const vaeng::Mat4 ras = vaeng::from_rows({1, 0, 0, 5, 0, 2, 0, 6, 0, 0, 3, 7, 0, 0, 0, 1});
  const vaeng::Mat4 las = vaeng::from_rows({-1, 0, 0, -5, 0, 2, 0, 6, 0, 0, 3, 7, 0, 0, 0, 1});
  const struct {
    const char *space;
    vaeng::Mat4 matrix;
  } cases[] = {{"left-posterior-superior", lps}, {"LPS", lps}, {"scanner-xyz", lps},
               {"3D-right-handed", lps},         {"RAS", ras}, {"right-anterior-superior", ras},
               {"left-anterior-superior", las},  {"LAS", las}};
  for (const auto &c : cases) {
    const Bytes b = text(replaced(kNrrd, "left-posterior-superior", c.space));
    EXPECT_EQ(vaeng::parse_nrrd_header(b.data(), b.size(), "x.nrrd").header.voxel_to_world, c.matrix) << c.space;
  }
}

TEST(ForeignImages, CompressedFramesAreDecompressedOnlyUpToTheVolumeAsked) {
  const vacli_test::ScratchDir dir;
  Bytes raw = mgh(0, {2, 2, 2, 3});
  raw.resize(raw.size() + 24, 7);
  const std::string path = dir.file("f.mgz");
  gzFile gz = gzopen(path.c_str(), "wb");
  gzwrite(gz, raw.data(), static_cast<unsigned>(raw.size()));
  gzclose(gz);
  EXPECT_EQ(vaeng::NiftiImage::open(path, 1).data_size(), vaeng::kMghHeaderBytes + 8);
  EXPECT_EQ(vaeng::NiftiImage::open(path, 0).data_size(), vaeng::kMghHeaderBytes + 24);
  EXPECT_EQ(vaeng::image_format(raw.data(), raw.size(), "any.nii"), vaeng::ImageFormat::Mgh);
}

}  // namespace
