#include "nifti_header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "errors.h"
#include "header_bytes.h"

namespace {

using vacli_test::basic_v1;
using vacli_test::basic_v2;
using vacli_test::bytes_of;
using vaeng::Error;
using vaeng::NiftiHeader;

NiftiHeader parse(const std::vector<unsigned char> &b) {
  return vaeng::parse_nifti_header(b.data(), b.size(), "img.nii");
}

std::string error_of(const std::vector<unsigned char> &b) {
  try {
    parse(b);
  } catch (const Error &e) {
    return e.what();
  }
  return "no error";
}

TEST(NiftiHeader, NativeNifti1GivesDimensionsTypeAndOffset) {
  const NiftiHeader h = parse(bytes_of(basic_v1()));
  EXPECT_EQ(h.version, 1);
  EXPECT_FALSE(h.swapped);
  EXPECT_TRUE(h.single_file);
  EXPECT_EQ(h.dim, (std::array<int64_t, 3>{4, 5, 6}));
  EXPECT_EQ(h.volumes, 1);
  EXPECT_EQ(h.datatype->code, 4);
  EXPECT_EQ(h.vox_offset, 352u);
  EXPECT_EQ(h.volume_bytes, 4u * 5 * 6 * 2);
}

TEST(NiftiHeader, SwappedNifti1IsDetectedAndDecoded) {
  nifti_1_header raw = basic_v1();
  raw.scl_slope = 2;
  raw.scl_inter = -3;
  const NiftiHeader h = parse(bytes_of(raw, true));
  EXPECT_TRUE(h.swapped);
  EXPECT_EQ(h.dim, (std::array<int64_t, 3>{4, 5, 6}));
  EXPECT_EQ(h.vox_offset, 352u);
  EXPECT_EQ(h.scale, 2.0);
  EXPECT_EQ(h.offset, -3.0);
}

TEST(NiftiHeader, Nifti2ReadsWideDimensionsInEitherByteOrder) {
  nifti_2_header raw = basic_v2();
  raw.dim[1] = 70000;
  raw.dim[2] = 3;
  for (bool swapped : {false, true}) {
    const NiftiHeader h = parse(bytes_of(raw, swapped));
    EXPECT_EQ(h.version, 2);
    EXPECT_EQ(h.swapped, swapped);
    EXPECT_EQ(h.dim[0], 70000);
    EXPECT_EQ(h.vox_offset, 544u);
  }
}

TEST(NiftiHeader, DimensionsAfterTheThirdCountVolumes) {
  nifti_1_header raw = basic_v1();
  raw.dim[0] = 5;
  raw.dim[4] = 3;
  raw.dim[5] = 2;
  EXPECT_EQ(parse(bytes_of(raw)).volumes, 6);
}

TEST(NiftiHeader, TwoDimensionalImageHasOnePlane) {
  nifti_1_header raw = basic_v1();
  raw.dim[0] = 2;
  raw.dim[3] = 0;  // beyond dim[0]: ignored
  EXPECT_EQ(parse(bytes_of(raw)).dim, (std::array<int64_t, 3>{4, 5, 1}));
}

TEST(NiftiHeader, AllTenDatatypesAreAcceptedWithTheirSizes) {
  for (const vaeng::NiftiDatatype &t : vaeng::nifti_datatypes()) {
    nifti_1_header raw = basic_v1();
    raw.datatype = static_cast<short>(t.code);
    const NiftiHeader h = parse(bytes_of(raw));
    EXPECT_EQ(h.datatype->code, t.code);
    EXPECT_EQ(h.volume_bytes, 120u * static_cast<unsigned>(t.bytes)) << t.name;
  }
}

TEST(NiftiHeader, ShortInputIsRefusedWithItsSize) {
  const std::vector<unsigned char> b(3, 0);
  EXPECT_EQ(error_of(b), "img.nii: too short for a NIfTI header (3 bytes)");
  std::vector<unsigned char> v1 = bytes_of(basic_v1());
  v1.resize(200);
  EXPECT_EQ(error_of(v1), "img.nii: truncated NIfTI-1 header: 200 of 348 bytes");
}

TEST(NiftiHeader, UnknownHeaderSizeIsNotNifti) {
  nifti_1_header raw = basic_v1();
  raw.sizeof_hdr = 1234;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: not a NIfTI image: its header size field holds 1234, not 348 or 540");
}

TEST(NiftiHeader, BadMagicIsRefused) {
  nifti_1_header raw = basic_v1();
  std::memcpy(raw.magic, "n+2\0", 4);
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: bad magic: not a NIfTI-1 image");
  std::memset(raw.magic, 0, 4);  // an Analyze header
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: bad magic: not a NIfTI-1 image");
}

TEST(NiftiHeader, PairMagicMarksSeparateVoxelFileAndAllowsOffsetZero) {
  nifti_1_header raw = basic_v1();
  std::memcpy(raw.magic, "ni1\0", 4);
  raw.vox_offset = 0;
  const NiftiHeader h = parse(bytes_of(raw));
  EXPECT_FALSE(h.single_file);
  EXPECT_EQ(h.vox_offset, 0u);
}

TEST(NiftiHeader, RankOutsideOneToSevenIsRefused) {
  nifti_1_header raw = basic_v1();
  raw.dim[0] = 0;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: bad dim[0] = 0: the number of dimensions must be 1 to 7");
  raw.dim[0] = 8;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: bad dim[0] = 8: the number of dimensions must be 1 to 7");
}

TEST(NiftiHeader, ZeroAndNegativeDimensionsAreRefused) {
  nifti_1_header raw = basic_v1();
  raw.dim[2] = 0;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: dimension 2 is 0");
  raw.dim[2] = -7;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: dimension 2 is negative (-7)");
}

TEST(NiftiHeader, OversizedDimensionsAreRefused) {
  nifti_2_header raw = basic_v2();
  raw.dim[1] = int64_t{1} << 40;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: oversized dimension 1099511627776: at most 2147483647 voxels per axis");
  raw = basic_v2();
  raw.dim[1] = 100000;
  raw.dim[2] = 100000;
  EXPECT_EQ(error_of(bytes_of(raw)),
            "img.nii: oversized dimensions 100000x100000: a plane holds at most 2147483647 voxels");
  raw = basic_v2();
  raw.dim[0] = 7;
  for (int i = 1; i <= 7; ++i) raw.dim[i] = int64_t{1} << 30;
  raw.dim[1] = raw.dim[2] = 1;
  EXPECT_NE(error_of(bytes_of(raw)).find("oversized"), std::string::npos);
}

TEST(NiftiHeader, UnsupportedDatatypesAreNamed) {
  nifti_1_header raw = basic_v1();
  raw.datatype = 128;
  EXPECT_EQ(error_of(bytes_of(raw)),
            "img.nii: datatype 128 (RGB24) is not supported: the voxels must be one of uint8, int8, int16, uint16, "
            "int32, uint32, int64, uint64, float32, float64");
  for (int code : {32, 1536, 1792, 2304}) {
    raw.datatype = static_cast<short>(code);
    EXPECT_NE(error_of(bytes_of(raw)).find("datatype " + std::to_string(code) + " ("), std::string::npos);
  }
  raw.datatype = 0;
  EXPECT_EQ(error_of(bytes_of(raw)).rfind("img.nii: datatype 0 is not supported", 0), 0u);
}

TEST(NiftiHeader, VoxOffsetMustBeAWholePositionAfterTheHeader) {
  nifti_1_header raw = basic_v1();
  raw.vox_offset = 100;
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: bad vox_offset 100: the voxels would overlap the header");
  raw.vox_offset = 352.5f;
  EXPECT_NE(error_of(bytes_of(raw)).find("bad vox_offset"), std::string::npos);
  raw.vox_offset = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NE(error_of(bytes_of(raw)).find("bad vox_offset"), std::string::npos);
}

TEST(NiftiHeader, ZeroOrNonFiniteSlopeMeansUnscaled) {
  for (float slope : {0.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    nifti_1_header raw = basic_v1();
    raw.scl_slope = slope;
    raw.scl_inter = 7;
    const NiftiHeader h = parse(bytes_of(raw));
    EXPECT_EQ(h.scale, 1.0);
    EXPECT_EQ(h.offset, 0.0);
  }
}

TEST(NiftiHeader, NonFiniteInterceptWithASlopeIsRefused) {
  nifti_1_header raw = basic_v1();
  raw.scl_slope = 2;
  raw.scl_inter = std::numeric_limits<float>::infinity();
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: scl_inter is not finite although scl_slope is set");
}

TEST(NiftiHeader, SformWinsOverQform) {
  nifti_1_header raw = basic_v1();
  raw.qform_code = 1;
  raw.quatern_d = 1;  // 180 degrees about z
  raw.sform_code = 2;
  const float rows[3][4] = {{2, 0, 0, 10}, {0, 3, 0, 20}, {0, 0, 4, 30}};
  std::memcpy(raw.srow_x, rows[0], sizeof rows[0]);
  std::memcpy(raw.srow_y, rows[1], sizeof rows[1]);
  std::memcpy(raw.srow_z, rows[2], sizeof rows[2]);
  const NiftiHeader h = parse(bytes_of(raw));
  EXPECT_STREQ(h.matrix_source, "sform");
  EXPECT_EQ(h.voxel_to_world, (vaeng::Mat4{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 10, 20, 30, 1}));
}

TEST(NiftiHeader, QformIsUsedWhenSformCodeIsZero) {
  nifti_1_header raw = basic_v1();
  raw.qform_code = 1;
  raw.quatern_d = 1;  // 180 degrees about z: x and y flip
  raw.pixdim[1] = 2;
  raw.qoffset_x = 5;
  const NiftiHeader h = parse(bytes_of(raw));
  EXPECT_STREQ(h.matrix_source, "qform");
  EXPECT_EQ(h.voxel_to_world, (vaeng::Mat4{-2, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1}));
}

TEST(NiftiHeader, VoxelSizesScaleWhenNeitherFormIsSet) {
  nifti_1_header raw = basic_v1();
  raw.pixdim[1] = 2;
  raw.pixdim[2] = 3;
  raw.pixdim[3] = 4;
  raw.srow_x[0] = 99;  // ignored: sform code 0
  const NiftiHeader h = parse(bytes_of(raw));
  EXPECT_STREQ(h.matrix_source, "voxel sizes");
  EXPECT_EQ(h.voxel_to_world, (vaeng::Mat4{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1}));
}

TEST(NiftiHeader, NonFiniteSformIsRefused) {
  nifti_1_header raw = basic_v1();
  raw.sform_code = 1;
  raw.srow_x[0] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(error_of(bytes_of(raw)), "img.nii: the voxel-to-world matrix (sform) has entries that are not finite");
}

// The qform is refused where nifticlib would make its values up; the
// fields of a form that is not used are not looked at.
TEST(NiftiHeader, QformValuesThatNifticlibWouldMakeUpAreRefusedByName) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char *what;
    short qform_code, sform_code;
    void (*change)(nifti_1_header *, double);
    double value;
    const char *error;
  } cases[] = {
      {"pixdim", 1, 0, [](nifti_1_header *h, double v) { h->pixdim[2] = static_cast<float>(v); }, nan,
       "img.nii: pixdim[2] is not finite (nan)"},
      {"pixdim without forms", 0, 0, [](nifti_1_header *h, double v) { h->pixdim[3] = static_cast<float>(v); }, inf,
       "img.nii: pixdim[3] is not finite (inf)"},
      {"quaternion", 1, 0, [](nifti_1_header *h, double v) { h->quatern_c = static_cast<float>(v); }, nan,
       "img.nii: quatern_c is not finite (nan)"},
      {"offset", 1, 0, [](nifti_1_header *h, double v) { h->qoffset_x = static_cast<float>(v); }, -inf,
       "img.nii: qoffset_x is not finite (-inf)"},
      {"long quaternion", 1, 0,
       [](nifti_1_header *h, double v) { h->quatern_b = h->quatern_d = static_cast<float>(v); }, 0.75,
       "img.nii: the qform quaternion (quatern_b, quatern_c, quatern_d) has b^2 + c^2 + d^2 = 1.125000, "
       "more than 1: it is no rotation"},
      {"unit quaternion", 1, 0, [](nifti_1_header *h, double v) { h->quatern_d = static_cast<float>(v); }, 1.0,
       "no error"},
      {"rounded unit quaternion", 1, 0,
       [](nifti_1_header *h, double v) { h->quatern_b = h->quatern_c = h->quatern_d = static_cast<float>(v); },
       std::sqrt(1.0 / 3) * (1 + 1e-7), "no error"},
      {"unused qform", 0, 0, [](nifti_1_header *h, double v) { h->quatern_c = h->qoffset_y = static_cast<float>(v); },
       nan, "no error"},
      {"sform in use", 1, 1, [](nifti_1_header *h, double v) { h->quatern_b = h->pixdim[1] = static_cast<float>(v); },
       nan, "no error"},
  };
  for (const auto &c : cases) {
    nifti_1_header raw = basic_v1();
    raw.qform_code = c.qform_code;
    raw.sform_code = c.sform_code;
    raw.srow_x[0] = raw.srow_y[1] = raw.srow_z[2] = 1;
    c.change(&raw, c.value);
    EXPECT_EQ(error_of(bytes_of(raw)), c.error) << c.what;
    EXPECT_EQ(error_of(bytes_of(raw, true)), c.error) << c.what << ", swapped";
  }
}

TEST(NiftiHeader, OneBasedMatrixSendsVoxelOneToTheHeadersVoxelZero) {
  nifti_1_header raw = basic_v1();
  raw.pixdim[1] = 2;
  raw.pixdim[2] = 3;
  raw.pixdim[3] = 4;
  const vaeng::Mat4 m = vaeng::one_based_matrix(parse(bytes_of(raw)));
  EXPECT_EQ(vaeng::apply_point(m, {1, 1, 1}), (vaeng::Vec3{0, 0, 0}));
  EXPECT_EQ(vaeng::apply_point(m, {2, 3, 4}), (vaeng::Vec3{2, 6, 12}));
}

TEST(NiftiDatatype, NamesAndCodesFindTheSameType) {
  for (const vaeng::NiftiDatatype &t : vaeng::nifti_datatypes())
    EXPECT_EQ(vaeng::find_nifti_datatype(t.name), vaeng::find_nifti_datatype(t.code));
  EXPECT_EQ(vaeng::find_nifti_datatype(128), nullptr);
  EXPECT_EQ(vaeng::find_nifti_datatype("rgb"), nullptr);
}

}  // namespace
