// Grids the program makes itself: integer output scaling that stores the
// background exactly, grids of new voxel sizes, planes and their letters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "errors.h"
#include "integer_scaling.h"
#include "output_grid.h"
#include "picture.h"
#include "plane_view.h"
#include "stored_values.h"

namespace {

using vaeng::StoredScaling;
using vaeng::ValueRange;

// The program's words for the output and its options.
const vaeng::ScalingWords kWords{"o", "--background", "--datatype float32"};

struct ScalingCase {
  const char *type;
  ValueRange range;
  double background;
  bool float_fields;
};

// What a reader gets back for v: the writer's stored integer, times the
// scale, plus the offset.
double read_back(double v, const vaeng::NiftiDatatype &type, const StoredScaling &s) {
  std::vector<unsigned char> bytes;
  vaeng::append_stored(&v, 1, type, s.scale, s.offset, &bytes);
  int64_t stored = 0;
  switch (type.code) {
    case 2: stored = bytes[0]; break;
    case 256: stored = static_cast<int8_t>(bytes[0]); break;
    case 4: {
      int16_t x;
      std::memcpy(&x, bytes.data(), 2);
      stored = x;
      break;
    }
    case 512: {
      uint16_t x;
      std::memcpy(&x, bytes.data(), 2);
      stored = x;
      break;
    }
    case 8: {
      int32_t x;
      std::memcpy(&x, bytes.data(), 4);
      stored = x;
      break;
    }
    case 768: {
      uint32_t x;
      std::memcpy(&x, bytes.data(), 4);
      stored = x;
      break;
    }
    default: ADD_FAILURE() << type.name;
  }
  return s.scale * static_cast<double>(stored) + s.offset;
}

TEST(IntegerScaling, StoresTheBackgroundExactlyAndTheRangeWithinHalfAStep) {
  const ScalingCase cases[] = {
      {"int8", {0, 100}, 0, true},         {"uint8", {-5, 100}, 0, true},   {"int16", {-1000.5, 3000.25}, -2000, true},
      {"uint16", {0.1, 0.9}, 0.3, false},  {"int32", {-1e6, 1e6}, 0, true}, {"uint32", {0, 4e9}, 7, true},
      {"int16", {-3.5, 2.25}, 2.25, true}, {"uint8", {17, 17}, 17, true},
  };
  for (const ScalingCase &c : cases) {
    SCOPED_TRACE(std::string(c.type) + " background " + std::to_string(c.background));
    const vaeng::NiftiDatatype &type = *vaeng::find_nifti_datatype(std::string(c.type));
    const StoredScaling s =
        vaeng::choose_integer_scaling(type, c.range, c.background, std::nullopt, c.float_fields, kWords);
    const double got = read_back(c.background, type, s);
    EXPECT_EQ(std::memcmp(&got, &c.background, sizeof got), 0) << got;
    for (double v : {c.range.low, c.range.high}) EXPECT_LE(std::fabs(read_back(v, type, s) - v), s.scale / 2 * 1.0001);
    if (c.float_fields) {
      EXPECT_EQ(s.scale, static_cast<double>(static_cast<float>(s.scale)));
      EXPECT_EQ(s.offset, static_cast<double>(static_cast<float>(s.offset)));
    }
  }
}

TEST(IntegerScaling, SpreadsTheRangeOverTheTypesIntegers) {
  const vaeng::NiftiDatatype &int8 = *vaeng::find_nifti_datatype(std::string("int8"));
  // The background at the low end takes the lowest integer: 255 steps.
  const StoredScaling s = vaeng::choose_integer_scaling(int8, {0, 255}, 0, std::nullopt, true, kWords);
  EXPECT_NEAR(s.scale, 1.0, 1e-6);
}

TEST(IntegerScaling, KeepsAnIntegerSourcesOwnScalingWhenItFits) {
  const vaeng::NiftiDatatype &int16 = *vaeng::find_nifti_datatype(std::string("int16"));
  const vaeng::NiftiDatatype &uint8 = *vaeng::find_nifti_datatype(std::string("uint8"));
  const StoredScaling own{0.25, 10};
  const StoredScaling kept = vaeng::choose_integer_scaling(int16, {0, 100}, 0, own, true, kWords);
  EXPECT_EQ(kept.scale, 0.25);
  EXPECT_EQ(kept.offset, 10);
  // In uint8 the background 0 would be stored as -40: another scaling.
  const StoredScaling other = vaeng::choose_integer_scaling(uint8, {0, 100}, 0, own, true, kWords);
  EXPECT_NE(other.offset, 10);
}

TEST(IntegerScaling, ABackgroundThatIsNotANumberCannotBeStored) {
  const vaeng::NiftiDatatype &int16 = *vaeng::find_nifti_datatype(std::string("int16"));
  try {
    vaeng::choose_integer_scaling(int16, {0, 1}, std::nan(""), std::nullopt, true,
                                  {"out.nii", "--background", "--datatype float32"});
    FAIL() << "no error";
  } catch (const vaeng::Error &e) {
    EXPECT_EQ(
        std::string(e.what()),
        "out.nii: the background nan cannot be stored in int16: give --background a number, or --datatype float32");
  }
}

vaeng::NiftiHeader oblique_source(int version) {
  vaeng::NiftiHeader h;
  h.version = version;
  h.dim = {256, 200, 150};
  h.geometry.sform_code = 1;
  // 1 x 1.2 x 1.5 mm voxels, the second and third axes turned about x.
  const double c = std::cos(0.3), s = std::sin(0.3);
  h.voxel_to_world =
      vaeng::from_rows({1, 0, 0, -128, 0, 1.2 * c, -1.5 * s, -100, 0, 1.2 * s, 1.5 * c, -70, 0, 0, 0, 1});
  return h;
}

TEST(OutputGrid, NewVoxelSizesCoverTheSourceAlongItsOwnAxesAboutItsCentre) {
  const vaeng::NiftiHeader source = oblique_source(2);
  const vaeng::NiftiHeader grid = vaeng::grid_from_source(source, "src", {2, 2, 2}, std::nullopt, "--voxel-size");
  EXPECT_EQ(grid.dim, (std::array<int64_t, 3>{128, 120, 113}));
  const vaeng::Vec3 centre = vaeng::apply_point(source.voxel_to_world, {127.5, 99.5, 74.5});
  const vaeng::Vec3 grid_centre = vaeng::apply_point(grid.voxel_to_world, {63.5, 59.5, 56});
  for (std::size_t a = 0; a < 3; ++a) EXPECT_NEAR(grid_centre[a], centre[a], 1e-9);
  for (int col = 0; col < 3; ++col)
    for (int row = 0; row < 3; ++row) {
      const double length = col == 0 ? 1 : col == 1 ? 1.2 : 1.5;
      EXPECT_NEAR(vaeng::at(grid.voxel_to_world, row, col), vaeng::at(source.voxel_to_world, row, col) / length * 2,
                  1e-12);
    }
  EXPECT_EQ(grid.geometry.sform_code, 1);
  EXPECT_EQ(grid.geometry.qform_code, 1);
}

TEST(OutputGrid, AShapeIsCentredAndNiftiOneGridsSampleThroughFloatFields) {
  const vaeng::NiftiHeader grid =
      vaeng::grid_from_source(oblique_source(1), "src", {3, 3, 3}, std::array<int64_t, 3>{10, 20, 30}, "--voxel-size");
  EXPECT_EQ(grid.dim, (std::array<int64_t, 3>{10, 20, 30}));
  for (double e : grid.voxel_to_world) EXPECT_EQ(e, static_cast<double>(static_cast<float>(e)));
  for (std::size_t i = 0; i < 12; ++i)
    EXPECT_EQ(grid.geometry.srow[i], vaeng::at(grid.voxel_to_world, static_cast<int>(i / 4), static_cast<int>(i % 4)));
}

TEST(PlaneView, VoxelPlanesAtTheirOwnSizeAreTheExactPlaneTransforms) {
  const uint64_t dim[3] = {7, 5, 4};
  const vaeng::Plane planes[] = {vaeng::Plane::Axial, vaeng::Plane::Coronal, vaeng::Plane::Sagittal};
  for (vaeng::Plane plane : planes) {
    const vaeng::PlaneView view = vaeng::plane_view({plane, 2.0, false, std::nullopt}, dim, vaeng::identity4());
    const vaeng::Mat4 expected = vaeng::plane_transform(plane, 2.0);
    EXPECT_EQ(std::memcmp(view.transform.data(), expected.data(), sizeof expected), 0) << vaeng::plane_name(plane);
    EXPECT_EQ((std::array<int32_t, 2>{view.width, view.height}), vaeng::plane_size(plane, dim));
  }
  const vaeng::PlaneView mid =
      vaeng::plane_view({vaeng::Plane::Axial, std::nullopt, false, std::nullopt}, dim, vaeng::identity4());
  EXPECT_EQ(vaeng::at(mid.transform, 2, 3), 2.5);
}

TEST(PlaneView, SizeZoomsToFitAndWorldPlanesHaveSquareMillimetrePixels) {
  const uint64_t dim[3] = {10, 20, 8};
  // Zoom: a 10 x 20 axial plane into 40 x 40 pixels steps half a voxel.
  const vaeng::PlaneView zoomed =
      vaeng::plane_view({vaeng::Plane::Axial, 1.0, false, std::array<int32_t, 2>{40, 40}}, dim, vaeng::identity4());
  EXPECT_EQ(vaeng::at(zoomed.transform, 0, 0), 0.5);
  EXPECT_EQ(vaeng::at(zoomed.transform, 1, 1), 0.5);
  // World: 1 x 1 x 3 mm voxels give a coronal plane 8 * 3 mm high in 1 mm pixels.
  const vaeng::Mat4 anisotropic = vaeng::from_rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1});
  const vaeng::PlaneView world =
      vaeng::plane_view({vaeng::Plane::Coronal, std::nullopt, true, std::nullopt}, dim, anisotropic);
  EXPECT_EQ(world.width, 10);
  EXPECT_EQ(world.height, 24);
  EXPECT_THROW(vaeng::plane_view({vaeng::Plane::Coronal, 99.0, true, std::nullopt}, dim, anisotropic),
               vaeng::ArgumentError);
}

TEST(EdgeLetters, NameTheWorldDirectionsThePictureAxesRunAlong) {
  const vaeng::Mat4 axial = vaeng::plane_transform(vaeng::Plane::Axial, 1);
  EXPECT_EQ(vaeng::edge_letters(vaeng::identity4(), axial), (vaeng::EdgeLetters{'L', 'R', 'P', 'A'}));
  // x stored right to left (a negative first column) swaps L and R.
  const vaeng::Mat4 flipped = vaeng::from_rows({-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  EXPECT_EQ(vaeng::edge_letters(flipped, axial), (vaeng::EdgeLetters{'R', 'L', 'P', 'A'}));
  const vaeng::Mat4 sagittal = vaeng::plane_transform(vaeng::Plane::Sagittal, 1);
  EXPECT_EQ(vaeng::edge_letters(vaeng::identity4(), sagittal), (vaeng::EdgeLetters{'P', 'A', 'I', 'S'}));
}

TEST(LabelColour, FixedColoursThatTellNeighbouringLabelsApart) {
  EXPECT_EQ(vaeng::label_colour(0), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(vaeng::label_colour(std::nan("")), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(vaeng::label_colour(2.4), vaeng::label_colour(2));
  std::set<std::array<uint8_t, 3>> seen;
  for (int label = 1; label <= 64; ++label) seen.insert(vaeng::label_colour(label));
  EXPECT_EQ(seen.size(), 64u);
}

TEST(DrawLetters, WhiteOnBlackAtTheEdgesOfPicturesLargeEnough) {
  vaeng::Picture p{100, 100, 1, std::vector<uint8_t>(100 * 100, 128)};
  vaeng::draw_letters(&p, {'L', 'R', 'P', 'A'});
  std::set<uint8_t> left_edge;
  for (int y = 40; y < 60; ++y)
    for (int x = 0; x < 10; ++x) left_edge.insert(p.bytes[static_cast<std::size_t>(y * 100 + x)]);
  EXPECT_TRUE(left_edge.count(255) && left_edge.count(0));
  EXPECT_EQ(p.bytes[50 * 100 + 50], 128);
  vaeng::Picture tiny{10, 10, 3, std::vector<uint8_t>(300, 128)};
  vaeng::draw_letters(&tiny, {'L', 'R', 'P', 'A'});
  EXPECT_EQ(tiny.bytes, std::vector<uint8_t>(300, 128));
}

}  // namespace
