// Registration transforms read from their parameters and files, the label
// and touched-range rules, and the series header of the NIfTI writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "errors.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "scratch_bytes.h"
#include "source_grid.h"
#include "stored_values.h"
#include "transform_chain.h"
#include "transforms.h"

namespace {

using vaeng::Mat4;
using vaeng::Vec3;

std::string cli_error(const std::function<void()> &f) {
  try {
    f();
  } catch (const vaeng::Error &e) {
    return e.what();
  }
  return "";
}

struct ItkCase {
  const char *what;
  const char *type;
  std::vector<double> parameters;
  std::vector<double> fixed;
  Vec3 point;
  Vec3 expected;
};

// Each transform's point worked out by hand from ITK's definitions:
// p -> A (p - centre) + translation + centre.
TEST(ItkTransform, MapsPointsAboutTheirCentreAsItkDefinesThem) {
  const double s45 = std::sqrt(0.5);
  const double quarter = M_PI / 2;
  const ItkCase cases[] = {
      {"translation", "TranslationTransform_double_3_3", {2, -3, 1}, {}, {1, 1, 1}, {3, -2, 2}},
      {"identity", "IdentityTransform_double_3", {}, {}, {4, 5, 6}, {4, 5, 6}},
      {"euler about z, centred",
       "Euler3DTransform_double_3_3",
       {0, 0, quarter, 0, 0, 0},
       {1, 0, 0},
       {2, 0, 0},
       {1, 1, 0}},
      {"euler x then y, default order Rz Rx Ry",
       "Euler3DTransform_double_3_3",
       {quarter, quarter, 0, 0, 0, 0},
       {0, 0, 0, 0},
       {1, 0, 0},
       {0, 1, 0}},
      {"euler with the ZYX flag, Rz Ry Rx",
       "Euler3DTransform_double_3_3",
       {quarter, quarter, 0, 0, 0, 0},
       {0, 0, 0, 1},
       {1, 0, 0},
       {0, 0, -1}},
      {"versor of a quarter turn about z",
       "VersorRigid3DTransform_float_3_3",
       {0, 0, s45, 1, 0, 0},
       {0, 0, 0},
       {1, 0, 0},
       {1, 1, 0}},
      {"similarity scales about its centre",
       "Similarity3DTransform_double_3_3",
       {0, 0, 0, 0, 0, 0, 2},
       {1, 1, 1},
       {2, 1, 1},
       {3, 1, 1}},
      {"affine with centre and translation",
       "AffineTransform_double_3_3",
       {2, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0},
       {1, 0, 0},
       {0, 0, 0},
       {0, 0, 0}},
      {"matrix-offset base like affine",
       "MatrixOffsetTransformBase_double_3_3",
       {0, -1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 5},
       {0, 0, 0},
       {1, 2, 3},
       {-2, 1, 8}},
  };
  for (const ItkCase &c : cases) {
    const Mat4 m = vaeng::itk_transform_lps(c.type, c.parameters, c.fixed, "t");
    const Vec3 got = vaeng::apply_point(m, c.point);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(got[a], c.expected[a], 1e-12) << c.what << " axis " << a;
  }
}

TEST(ItkTransform, RefusesWrongCountsOtherDimensionsAndUnknownTypes) {
  const std::pair<std::function<void()>, const char *> cases[] = {
      {[] {
         vaeng::itk_transform_lps("AffineTransform_double_3_3", std::vector<double>(9), {0, 0, 0}, "f");
       },
       "needs 12 parameters"},
      {[] { vaeng::itk_transform_lps("Euler3DTransform_double_3_3", std::vector<double>(6), {0}, "f"); },
       "fixed parameters"},
      {[] {
         vaeng::itk_transform_lps("AffineTransform_double_2_2", std::vector<double>(6), {0, 0}, "f");
       },
       "not a 3-D transform"},
      {[] { vaeng::itk_transform_lps("BSplineTransform_double_3_3", {}, {}, "f"); }, "not supported"},
      {[] { vaeng::itk_transform_lps("Affine", {}, {}, "f"); }, "not an ITK transform type name"},
  };
  for (const auto &c : cases) EXPECT_NE(cli_error(c.first).find(c.second), std::string::npos) << c.second;
}

TEST(ItkTransform, LpsTranslationBecomesRasWithXAndYNegated) {
  const Mat4 ras = vaeng::lps_to_ras(vaeng::translation4(1, 2, 3));
  const Vec3 got = vaeng::apply_point(ras, {0, 0, 0});
  EXPECT_EQ(got[0], -1);
  EXPECT_EQ(got[1], -2);
  EXPECT_EQ(got[2], 3);
}

// A level-4 variable: header of five 32-bit words, the name, the data.
template <class T>
void put_variable(std::vector<unsigned char> *out, bool big, uint32_t type, const std::string &name,
                  const std::vector<T> &values) {
  auto word = [&](uint32_t v) {
    if (big) v = __builtin_bswap32(v);
    const auto *p = reinterpret_cast<const unsigned char *>(&v);
    out->insert(out->end(), p, p + 4);
  };
  word(type);
  word(static_cast<uint32_t>(values.size()));
  word(1);
  word(0);
  word(static_cast<uint32_t>(name.size() + 1));
  out->insert(out->end(), name.begin(), name.end());
  out->push_back(0);
  for (T v : values) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    if (big) std::reverse(b, b + sizeof(T));
    out->insert(out->end(), b, b + sizeof(T));
  }
}

TEST(Mat4File, ReadsDoublesAndFloatsInEitherByteOrder) {
  std::vector<unsigned char> bytes;
  put_variable<double>(&bytes, false, 0, "AffineTransform_double_3_3", {1.5, -2.25, 3});
  put_variable<float>(&bytes, true, 1010, "fixed", {0.5f, 7, -1});
  const std::vector<vaeng::MatVariable> v = vaeng::parse_mat4(bytes.data(), bytes.size(), "m.mat");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].name, "AffineTransform_double_3_3");
  EXPECT_EQ(v[0].values, (std::vector<double>{1.5, -2.25, 3}));
  EXPECT_EQ(v[1].name, "fixed");
  EXPECT_EQ(v[1].values, (std::vector<double>{0.5, 7, -1}));
}

TEST(Mat4File, RefusesTruncatedAndComplexData) {
  std::vector<unsigned char> bytes;
  put_variable<double>(&bytes, false, 0, "fixed", {1, 2, 3});
  EXPECT_NE(cli_error([&] { vaeng::parse_mat4(bytes.data(), bytes.size() - 1, "m.mat"); }).find("truncated"),
            std::string::npos);
  bytes[12] = 1;  // the imaginary flag
  EXPECT_NE(cli_error([&] { vaeng::parse_mat4(bytes.data(), bytes.size(), "m.mat"); }).find("complex"),
            std::string::npos);
}

std::vector<unsigned char> text_bytes(const std::string &text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

std::vector<unsigned char> affine_mat(const std::vector<double> &parameters, const std::vector<double> &fixed) {
  std::vector<unsigned char> bytes;
  put_variable<double>(&bytes, false, 0, "AffineTransform_double_3_3", parameters);
  put_variable<double>(&bytes, false, 0, "fixed", fixed);
  return bytes;
}

// Transform files that pass every count but hold a value that would make
// the output all background, or say one thing twice, refused with the file
// and the field; a matrix option given a transform file names the option
// that reads it.
TEST(TransformFile, RefusesNonFiniteRepeatedAndMisplacedTransforms) {
  const double nan = std::nan("");
  const std::vector<double> identity{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  std::vector<double> nan_parameters = identity;
  nan_parameters[4] = nan;
  const std::string itk_head = "#Insight Transform File V1.0\nTransform: AffineTransform_double_3_3\n";
  const std::string itk_twice = itk_head +
                                "Parameters: 1 0 0 0 1 0 0 0 1 0 0 0\nParameters: 2 0 0 0 2 0 0 0 2 0 0 0\n" +
                                "FixedParameters: 0 0 0\n";
  struct Case {
    const char *file;
    std::vector<unsigned char> bytes;
    bool matrix_option;
    const char *expected;
  };
  const Case cases[] = {
      {"nan.mat", affine_mat(nan_parameters, {0, 0, 0}), false,
       " (AffineTransform_double_3_3): parameter 5 is nan, not a finite number"},
      {"inf.mat", affine_mat(identity, {0, INFINITY, 0}), false,
       " (AffineTransform_double_3_3): fixed parameter 2 is inf, not a finite number"},
      {"twice.txt", text_bytes(itk_twice), false, ":4: a second 'Parameters:' line for one transform"},
      {"itk.txt", text_bytes(itk_head + "Parameters: 1 0 0 0 1 0 0 0 1 0 0 0\nFixedParameters: 0 0 0\n"), true,
       ": is an ITK transform text file, which --transform reads; --affine expects a 4x4 matrix: four lines of four "
       "numbers"},
      {"affine.mat", affine_mat(identity, {0, 0, 0}), true,
       ": is a MATLAB .mat transform, which --transform reads; --affine expects a 4x4 matrix: four lines of four "
       "numbers"},
  };
  const vacli_test::ScratchDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    dir.write(c.file, c.bytes);
    const std::string path = dir.file(c.file);
    const std::string error = cli_error([&] {
      if (c.matrix_option)
        vaeng::read_matrix_file(path, "--affine");
      else
        vaeng::read_transform_file(path);
    });
    EXPECT_EQ(error, path + c.expected);
  }
}

vaeng::NiftiHeader header_with(const Mat4 &voxel_to_world, std::array<int64_t, 3> dim) {
  vaeng::NiftiHeader h;
  h.voxel_to_world = voxel_to_world;
  h.dim = dim;
  h.geometry.pixdim = {std::fabs(voxel_to_world[0]), std::fabs(voxel_to_world[5]), std::fabs(voxel_to_world[10])};
  return h;
}

TEST(Flirt, MirrorsXOnlyWhereTheDeterminantIsPositive) {
  Mat4 positive = vaeng::identity4();
  positive[0] = 2;
  positive[5] = 3;
  positive[10] = 4;
  Mat4 negative = positive;
  negative[0] = -2;
  const Mat4 flipped = vaeng::flirt_scaled_voxels(header_with(positive, {10, 5, 5}));
  const Vec3 first = vaeng::apply_point(flipped, {0, 1, 1});
  EXPECT_EQ(first[0], 18);  // (10 - 1) * 2
  EXPECT_EQ(first[1], 3);
  EXPECT_EQ(vaeng::apply_point(flipped, {9, 0, 0})[0], 0);
  const Mat4 plain = vaeng::flirt_scaled_voxels(header_with(negative, {10, 5, 5}));
  EXPECT_EQ(vaeng::apply_point(plain, {1, 0, 0})[0], 2);
}

TEST(TransformOption, InverseSuffixIsSplitOff) {
  const vaeng::TransformOption plain = vacli::parse_transform_option("a.mat");
  EXPECT_EQ(plain.path, "a.mat");
  EXPECT_FALSE(plain.inverse);
  const vaeng::TransformOption inverse = vacli::parse_transform_option("dir/a,b.mat,inverse");
  EXPECT_EQ(inverse.path, "dir/a,b.mat");
  EXPECT_TRUE(inverse.inverse);
  EXPECT_THROW(vacli::parse_transform_option(",inverse"), vaeng::ArgumentError);
}

TEST(TransformChain, ComposesStepsInTheOrderTheyApply) {
  vaeng::TransformChain chain;
  Mat4 doubling = vaeng::identity4();
  doubling[0] = 2;
  chain.then_affine(vaeng::translation4(1, 0, 0));
  chain.then_affine(doubling);
  // (x + 1) * 2, not x * 2 + 1.
  EXPECT_EQ(vaeng::apply_point(chain.composed(), {3, 0, 0})[0], 8);
  double x = 3, y = 0, z = 0;
  chain.map_points(&x, &y, &z, 1);
  EXPECT_EQ(x, 8);
}

TEST(LabelRule, HeavierLabelWinsAndTiesGoToTheSmallerLabel) {
  const vaeng::SourceGrid grid({2, 1, 1}, {7, 3});
  EXPECT_EQ(grid.label_at(1.4, 1, 1, -1), 7);
  EXPECT_EQ(grid.label_at(1.6, 1, 1, -1), 3);
  EXPECT_EQ(grid.label_at(1.5, 1, 1, -1), 3);
  EXPECT_EQ(grid.label_at(2.04, 1, 1, -1), 3);
  EXPECT_EQ(grid.label_at(2.05, 1, 1, -1), -1);
  EXPECT_EQ(grid.label_at(0.94, 1, 1, -1), -1);
}

TEST(LabelRule, WeightsOfOneLabelAddUpAcrossCorners) {
  // At (1.4, 1.4, 1) label 9 holds the heaviest corner (0.6 * 0.6 = 0.36)
  // and label 5 the other three of the plane (0.24 + 0.24 + 0.16 = 0.64):
  // 5 wins, where taking the nearest voxel would give 9. The second plane
  // weighs nothing.
  std::vector<double> v(8, 0);
  v[0] = 9;
  v[1] = 5;
  v[2] = 5;
  v[3] = 5;
  v[4] = 1;
  const vaeng::SourceGrid grid({2, 2, 2}, v);
  EXPECT_EQ(grid.label_at(1.4, 1.4, 1.0, 0), 5);
}

TEST(TouchedRange, CoversTheVoxelsEachKernelReads) {
  std::vector<double> v(10);
  for (int i = 0; i < 10; ++i) v[static_cast<std::size_t>(i)] = i * i;
  const vaeng::SourceGrid grid({10, 1, 1}, v);
  struct Case {
    double x;
    int32_t hold;
    double low, high;
  } cases[] = {
      {4.4, 0, 9, 9},        // nearest: voxel 4 (0-based 3)
      {4.4, 1, 9, 16},       // trilinear: voxels 3 and 4
      {4.4, 3, 4, 25},       // four nodes from the voxel below: 2..5
      {4.4, 2, 4, 16},       // three nodes round the nearest: 2..4
      {1.5, 3, 0, 4},        // cut at the rim: 0..2
      {4.000001, -5, 9, 9},  // within 0.00001 of a centre: that voxel alone
      {4.4, -5, 1, 36},      // six sinc nodes: 1..6
  };
  for (const Case &c : cases) {
    double low = 0, high = 0;
    ASSERT_TRUE(grid.touched_range(c.x, 1, 1, c.hold, &low, &high)) << c.x << " " << c.hold;
    EXPECT_EQ(low, c.low) << c.x << " hold " << c.hold;
    EXPECT_EQ(high, c.high) << c.x << " hold " << c.hold;
  }
  double low, high;
  EXPECT_FALSE(grid.touched_range(0.94, 1, 1, 3, &low, &high));
}

TEST(StoredRange, ReadsBackScaledValuesAndSkipsNotANumber) {
  const int16_t stored[] = {-4, 10, 3};
  vaeng::StoredRange range;
  vaeng::add_stored_range(reinterpret_cast<const unsigned char *>(stored), 3, *vaeng::find_nifti_datatype(4), -0.5, 1,
                          &range);
  EXPECT_FALSE(range.empty);
  EXPECT_EQ(range.low, -4);
  EXPECT_EQ(range.high, 3);
  const float floats[] = {NAN, 2.5f};
  vaeng::StoredRange f;
  vaeng::add_stored_range(reinterpret_cast<const unsigned char *>(floats), 2, *vaeng::find_nifti_datatype(16), 1, 0,
                          &f);
  EXPECT_EQ(f.low, 2.5);
  EXPECT_EQ(f.high, 2.5);
}

TEST(NiftiWriter, CompressedSeriesKeepsItsTimeAxisAndItsValueRange) {
  vacli_test::ScratchDir dir;
  vaeng::NiftiLayout layout;
  layout.dim = {2, 1, 1};
  layout.datatype = vaeng::find_nifti_datatype(16);
  layout.series.rank = 4;
  layout.series.dim = {3, 1, 1, 1};
  layout.series.pixdim = {2.5, 0, 0, 0};
  layout.series.intent_code = 2001;
  vaeng::NiftiWriter writer(dir.file("s.nii.gz"), layout);
  writer.write_plane({1, -6});
  writer.write_plane({4, 2});
  writer.write_plane({9, 0});
  writer.finish();
  const vaeng::NiftiImage image = vaeng::NiftiImage::open(dir.file("s.nii.gz"));
  EXPECT_EQ(image.header().volumes, 3);
  EXPECT_EQ(image.header().series.rank, 4);
  EXPECT_EQ(image.header().series.pixdim[0], 2.5);
  EXPECT_EQ(image.header().series.intent_code, 2001);
  unsigned char bytes[348];
  ASSERT_EQ(vaeng::read_at(image.data_fd(), bytes, sizeof bytes, 0, "s"), sizeof bytes);
  float cal_max, cal_min;
  std::memcpy(&cal_max, bytes + 124, 4);
  std::memcpy(&cal_min, bytes + 128, 4);
  EXPECT_EQ(cal_min, -6);
  EXPECT_EQ(cal_max, 9);
}

}  // namespace

namespace {

// Callers that pass kernel names straight to the volume library (the
// Python package) must never receive the label code, which the library's
// tables cannot hold.
TEST(HoldNames, LabelIsParsedButIsNoKernelName) {
  EXPECT_EQ(vacli::parse_hold("label"), vaeng::kLabelHold);
  EXPECT_FALSE(vaeng::hold_by_name("label").has_value());
  EXPECT_EQ(vaeng::hold_by_name("cubic"), 3);
}

}  // namespace
