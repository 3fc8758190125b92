// Point sampling on a 256^3 signed 16-bit volume: nearest neighbour,
// trilinear, 4-node Lagrange and 4-node windowed sinc, each without and
// with gradients. Reports time per point (items are points).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "volaccess.h"

namespace {

constexpr int32_t kSide = 256;
constexpr int32_t kPoints = 4096;

class Volume16 {
 public:
  Volume16() : voxels_(static_cast<std::size_t>(kSide) * kSide * kSide) {
    uint32_t state = 12345;
    for (int16_t &v : voxels_) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<int16_t>(state >> 16);
    }
    for (int32_t k = 0; k < kSide; ++k) {
      planes_.push_back(voxels_.data() + static_cast<std::size_t>(k) * kSide * kSide);
      scale_.push_back(1.0 + k / 1024.0);
      offset_.push_back(-0.5 * k);
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
  static const Volume16 vol;
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
    resample_d(kPoints, volume().map(), out.data(), gx.data(), gy.data(), gz.data(), p.x.data(),
               p.y.data(), p.z.data(), hold, 0.0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

// hold 0 nearest, 1 trilinear, 3 four-node Lagrange, -3 four-node sinc.
BENCHMARK(BM_Resample)->ArgName("hold")->Arg(0)->Arg(1)->Arg(3)->Arg(-3);
BENCHMARK(BM_ResampleGradient)->ArgName("hold")->Arg(0)->Arg(1)->Arg(3)->Arg(-3);

}  // namespace

BENCHMARK_MAIN();
