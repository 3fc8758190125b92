// Point sampling on a 256^3 signed 16-bit volume: nearest neighbour,
// trilinear, 4-node Lagrange and 4-node windowed sinc, each without and
// with gradients. Reports time per point (items are points). The small
// calls report time per call: a few points whose voxels stay in cache, so
// that what is measured is the fixed cost of a call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "volaccess.h"

namespace {

constexpr int32_t kSide = 256;
constexpr int32_t kPoints = 4096;

class Volume16 {
 public:
  // Per-plane scaling, or one scale and offset for the whole volume (as a
  // file's header gives).
  explicit Volume16(bool per_plane) : voxels_(static_cast<std::size_t>(kSide) * kSide * kSide) {
    uint32_t state = 12345;
    for (int16_t &v : voxels_) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<int16_t>(state >> 16);
    }
    for (int32_t k = 0; k < kSide; ++k) {
      planes_.push_back(voxels_.data() + static_cast<std::size_t>(k) * kSide * kSide);
      scale_.push_back(per_plane ? 1.0 + k / 1024.0 : 1.5);
      offset_.push_back(per_plane ? -0.5 * k : -2.0);
    }
    map_.dim[0] = map_.dim[1] = map_.dim[2] = kSide;
    map_.scale = scale_.data();
    map_.offset = offset_.data();
    map_.dtype = 4;
    map_.data = planes_.data();
  }
  const VolumeMap *map() const { return &map_; }

 private:
  std::vector<int16_t> voxels_;
  std::vector<void *> planes_;
  std::vector<double> scale_;
  std::vector<double> offset_;
  VolumeMap map_{};
};

const Volume16 &volume() {
  static const Volume16 vol(true);
  return vol;
}

const Volume16 &uniform_volume() {
  static const Volume16 vol(false);
  return vol;
}

// Points spread over the whole volume, away from exact voxel centres.
struct Points {
  std::vector<double> x, y, z;
  Points() {
    uint64_t state = 987654321;
    auto next = [&state]() {
      state = state * 6364136223846793005u + 1442695040888963407u;
      return 1.0 + static_cast<double>(state >> 11) / 9007199254740992.0 * (kSide - 1);
    };
    for (int32_t p = 0; p < kPoints; ++p) {
      x.push_back(next());
      y.push_back(next());
      z.push_back(next());
    }
  }
};

const Points &points() {
  static const Points pts;
  return pts;
}

void BM_Resample(benchmark::State &state) {
  const auto hold = static_cast<int32_t>(state.range(0));
  const Points &p = points();
  std::vector<double> out(kPoints);
  for (auto _ : state) {
    resample(kPoints, volume().map(), out.data(), p.x.data(), p.y.data(), p.z.data(), hold, 0.0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_ResampleGradient(benchmark::State &state) {
  const auto hold = static_cast<int32_t>(state.range(0));
  const Points &p = points();
  std::vector<double> out(kPoints), gx(kPoints), gy(kPoints), gz(kPoints);
  for (auto _ : state) {
    resample_d(kPoints, volume().map(), out.data(), gx.data(), gy.data(), gz.data(), p.x.data(), p.y.data(), p.z.data(),
               hold, 0.0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

// One call of a few points (range 1) with hold code range 0, on a volume
// scaled per plane (range 2 = 1) or as a whole (0).
void BM_SmallCall(benchmark::State &state) {
  const auto hold = static_cast<int32_t>(state.range(0));
  const auto m = static_cast<int32_t>(state.range(1));
  const VolumeMap *map = state.range(2) != 0 ? volume().map() : uniform_volume().map();
  const Points &p = points();
  std::vector<double> out(static_cast<std::size_t>(m));
  for (auto _ : state) {
    resample(m, map, out.data(), p.x.data(), p.y.data(), p.z.data(), hold, 0.0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_SmallGradientCall(benchmark::State &state) {
  const auto hold = static_cast<int32_t>(state.range(0));
  const auto m = static_cast<int32_t>(state.range(1));
  const VolumeMap *map = state.range(2) != 0 ? volume().map() : uniform_volume().map();
  const Points &p = points();
  std::vector<double> out(static_cast<std::size_t>(m)), gx(out), gy(out), gz(out);
  for (auto _ : state) {
    resample_d(m, map, out.data(), gx.data(), gy.data(), gz.data(), p.x.data(), p.y.data(), p.z.data(), hold, 0.0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// hold 0 nearest, 1 trilinear, 3 four-node Lagrange, -3 four-node sinc.
BENCHMARK(BM_Resample)->ArgName("hold")->Arg(0)->Arg(1)->Arg(3)->Arg(-3);
BENCHMARK(BM_ResampleGradient)->ArgName("hold")->Arg(0)->Arg(1)->Arg(3)->Arg(-3);
BENCHMARK(BM_SmallCall)->ArgNames({"hold", "points", "per_plane"})->ArgsProduct({{0, 1, 3, -3}, {1, 4, 32}, {0, 1}});
BENCHMARK(BM_SmallGradientCall)->ArgNames({"hold", "points", "per_plane"})->ArgsProduct({{1, 3, -3}, {1, 4, 32}, {0}});

}  // namespace

BENCHMARK_MAIN();
