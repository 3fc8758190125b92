// The label rule and the clip range read the voxels where they lie, in
// every encoding of the library: each voxel must come out exactly as the
// library's nearest-neighbour kernel gives it (byte order, scale and
// offset of its plane), which a grid of those values then confirms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "errors.h"
#include "source_grid.h"
#include "unit_table.h"
#include "vector_paths.h"
#include "volaccess.h"

namespace {

constexpr int32_t kDim[3] = {3, 4, 5};
constexpr int32_t kVoxels = kDim[0] * kDim[1] * kDim[2];

// A 3x4x5 volume of one encoding: few labels, so that corners share them
// (by default (e * 7) % 5 at element e), and a scale and offset of its
// own for each plane.
struct EncodedVolume {
  explicit EncodedVolume(const kernels_test::Unit &unit, std::vector<double> stored = {})
      : bytes(static_cast<std::size_t>(kVoxels) * unit.size) {
    const auto plane = static_cast<std::size_t>(kDim[0] * kDim[1]);
    for (int32_t e = 0; e < kVoxels; ++e) {
      const double value = stored.empty() ? (e * 7) % 5 : stored[static_cast<std::size_t>(e)];
      unit.encode(value, bytes.data() + static_cast<std::size_t>(e) * unit.size);
    }
    for (int32_t k = 0; k < kDim[2]; ++k) {
      planes.push_back(bytes.data() + static_cast<std::size_t>(k) * plane * unit.size);
      scale.push_back(0.5 * (k + 1));
      offset.push_back(k - 2.25);
    }
    for (int a = 0; a < 3; ++a) map.dim[a] = static_cast<uint64_t>(kDim[a]);
    map.dtype = unit.code;
    map.data = planes.data();
    map.scale = scale.data();
    map.offset = offset.data();
  }

  // Every voxel as the nearest-neighbour kernel reads it, x fastest.
  std::vector<double> nearest_values() const {
    std::vector<double> x, y, z;
    for (int32_t k = 1; k <= kDim[2]; ++k)
      for (int32_t j = 1; j <= kDim[1]; ++j)
        for (int32_t i = 1; i <= kDim[0]; ++i) {
          x.push_back(i);
          y.push_back(j);
          z.push_back(k);
        }
    std::vector<double> values(x.size());
    resample(kVoxels, &map, values.data(), x.data(), y.data(), z.data(), 0, 0.0);
    return values;
  }

  std::vector<unsigned char> bytes;
  std::vector<void *> planes;
  std::vector<double> scale, offset;
  VolumeMap map{};
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The label rule written out plainly, for a point inside the outer voxel
// centres: the labels of the cell's eight corners (corner c = bx + 2 by +
// 4 bz) in slots of first appearance, each slot's weights summed in corner
// order, the heaviest slot taken, a later one only when heavier or as
// heavy and smaller.
double plain_label(const std::vector<double> &grid, double x, double y, double z) {
  const double base[3] = {std::floor(x), std::floor(y), std::floor(z)};
  const double t[3] = {x - base[0], y - base[1], z - base[2]};
  std::vector<double> labels, weights;
  for (int corner = 0; corner < 8; ++corner) {
    int at[3];
    double w = 1.0;
    for (int a = 0; a < 3; ++a) {
      const int upper = (corner >> a) & 1;
      at[a] = static_cast<int>(base[a]) - 1 + upper;
      w = a == 0 ? (upper ? t[0] : 1 - t[0]) : w * (upper ? t[a] : 1 - t[a]);
    }
    const double label = grid[static_cast<std::size_t>(at[0] + kDim[0] * (at[1] + kDim[1] * at[2]))];
    std::size_t slot = 0;
    while (slot < labels.size() && !(labels[slot] == label)) ++slot;
    if (slot == labels.size()) {
      labels.push_back(label);
      weights.push_back(0.0);
    }
    weights[slot] += w;
  }
  std::size_t best = 0;
  for (std::size_t s = 1; s < labels.size(); ++s)
    if (weights[s] > weights[best] || (weights[s] == weights[best] && labels[s] < labels[best])) best = s;
  return labels[best];
}

TEST(SourceGrid, ReadsEveryEncodingInPlaceAsTheGridOfItsNearestValues) {
  std::mt19937 random(7);
  // Beyond the trilinear reach on both sides, so that the background and
  // the rims are met too.
  std::uniform_real_distribution<double> along[3] = {std::uniform_real_distribution<double>(0.8, kDim[0] + 0.2),
                                                     std::uniform_real_distribution<double>(0.8, kDim[1] + 0.2),
                                                     std::uniform_real_distribution<double>(0.8, kDim[2] + 0.2)};
  const int32_t holds[] = {0, 1, 3, -4};
  for (const kernels_test::Unit &unit : kernels_test::all_units()) {
    const EncodedVolume volume(unit);
    const vaeng::SourceGrid in_place(&volume.map, unit.suffix);
    const vaeng::SourceGrid copied({kDim[0], kDim[1], kDim[2]}, volume.nearest_values());
    std::vector<double> xs, ys, zs;
    for (int n = 0; n < 300; ++n) {
      const double x = along[0](random), y = along[1](random), z = along[2](random);
      xs.push_back(x);
      ys.push_back(y);
      zs.push_back(z);
      ASSERT_TRUE(same_bits(in_place.label_at(x, y, z, -7), copied.label_at(x, y, z, -7)))
          << unit.suffix << " at " << x << " " << y << " " << z;
      for (const int32_t hold : holds) {
        double low = 0, high = 0, copied_low = 0, copied_high = 0;
        const bool inside = in_place.touched_range(x, y, z, hold, &low, &high);
        ASSERT_EQ(inside, copied.touched_range(x, y, z, hold, &copied_low, &copied_high));
        if (!inside) continue;
        ASSERT_TRUE(same_bits(low, copied_low) && same_bits(high, copied_high))
            << unit.suffix << " hold " << hold << " at " << x << " " << y << " " << z;
      }
    }
    // All points in one call go through the block gathers as a reslice's do.
    std::vector<double> labels(xs.size());
    in_place.labels_at(static_cast<int32_t>(xs.size()), xs.data(), ys.data(), zs.data(), -7, labels.data());
    for (std::size_t n = 0; n < xs.size(); ++n)
      ASSERT_TRUE(same_bits(labels[n], copied.label_at(xs[n], ys[n], zs[n], -7))) << unit.suffix << " point " << n;
  }
}

// Cells of one, two and three labels, ties at whole, half and quarter
// fractions, -0 beside +0 and, in the floating encodings, labels that are
// not a number: every vector path settles each cell as the plain rule
// does, bit for bit.
TEST(SourceGrid, LabelIsTheHeaviestInCornerOrderOnEveryVectorPath) {
  std::mt19937 random(11);
  // Mostly two labels, for ties between them.
  const double stored_labels[] = {1, 2, 1, 2, 1, 2, 3, 0, -0.0, 5, NAN};
  std::uniform_real_distribution<double> unit_interval(0.0, 1.0);
  const double fractions[] = {0.0, 0.25, 0.5, 0.75};
  const auto fraction = [&] {
    const double u = unit_interval(random);
    return u < 0.5 ? fractions[static_cast<int>(u * 8)] : unit_interval(random);
  };
  const volaccess::VectorPath paths[] = {volaccess::VectorPath::kBaseline, volaccess::VectorPath::kAvx2,
                                         volaccess::VectorPath::kAvx512};
  for (const kernels_test::Unit &unit : kernels_test::all_units()) {
    // Only an encoding that holds a half holds a NaN.
    unsigned char half[8];
    unit.encode(0.5, half);
    const std::size_t choices = unit.decode(half) == 0.5 ? std::size(stored_labels) : 10;
    std::uniform_int_distribution<std::size_t> pick(0, choices - 1);
    std::vector<double> stored(kVoxels);
    for (double &v : stored) v = stored_labels[pick(random)];
    const EncodedVolume volume(unit, stored);
    const std::vector<double> grid = volume.nearest_values();
    const vaeng::SourceGrid labels(&volume.map, unit.suffix);
    std::vector<double> xs, ys, zs;
    // A quarter of the points at cell centres, where every weight is 1/8
    // and a four-four split is a tie.
    for (int n = 0; n < 600; ++n) {
      const bool centre = n % 4 == 0;
      xs.push_back(1 + std::floor(unit_interval(random) * (kDim[0] - 1)) + (centre ? 0.5 : fraction()));
      ys.push_back(1 + std::floor(unit_interval(random) * (kDim[1] - 1)) + (centre ? 0.5 : fraction()));
      zs.push_back(1 + std::floor(unit_interval(random) * (kDim[2] - 1)) + (centre ? 0.5 : fraction()));
    }
    for (const volaccess::VectorPath path : paths) {
      if (!volaccess::force_vector_path(path)) continue;
      std::vector<double> got(xs.size());
      labels.labels_at(static_cast<int32_t>(xs.size()), xs.data(), ys.data(), zs.data(), -7, got.data());
      for (std::size_t n = 0; n < xs.size(); ++n)
        ASSERT_TRUE(same_bits(got[n], plain_label(grid, xs[n], ys[n], zs[n])))
            << unit.suffix << " on " << volaccess::plan_kernels().name << " at " << xs[n] << " " << ys[n] << " "
            << zs[n] << ": " << got[n];
    }
    volaccess::choose_best_vector_path();
  }
}

TEST(SourceGrid, RefusesAnEncodingTheLibraryDoesNotKnow) {
  VolumeMap map{};
  map.dtype = 3;
  EXPECT_THROW(vaeng::SourceGrid(&map, "odd.nii"), vaeng::Error);
}

}  // namespace
