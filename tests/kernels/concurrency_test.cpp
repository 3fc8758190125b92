// Eight threads sampling the same volumes at once get, call for call, the
// bits one thread alone gets: every kernel, several encodings and
// scalings, hold codes of every kind, and the lookup kernels called
// directly after the thread's own choice of builder, which must not be
// disturbed by the choices other threads make meanwhile. Run under
// ThreadSanitizer too (build/tsan in scripts/test.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "calvex/host.h"
#include "unit_table.h"
#include "volaccess.h"

namespace {

using kernels_test::bits;
using kernels_test::TestVolume;

constexpr int kThreads = 8;
constexpr int kRounds = 3;

enum class Kernel {
  kResample,
  kResampleGradient,
  kSlice,
  // The unit's entry with hold (which chooses the builder), then the
  // unit's lookup kernel of four nodes, which uses the builder chosen.
  kChoiceThenResamplePoly,
  kChoiceThenGradientPoly,
  kChoiceThenSlicePoly,
  // get_maps on a host array, a sample, free_maps.
  kMapSampleRelease,
};

struct Request {
  int volume;
  Kernel kernel;
  int32_t hold;
};

// Points inside, at the rims, outside, repeated, not finite.
std::vector<double> coordinates(int32_t dim, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> within(0.5, dim + 0.5);
  std::vector<double> c = {1.0,     static_cast<double>(dim),
                           0.96,    dim + 0.04,
                           1.5,     1.5,
                           -3.0,    std::numeric_limits<double>::quiet_NaN(),
                           2.000001};
  while (c.size() < 45) c.push_back(within(random));
  return c;
}

class Volumes {
 public:
  Volumes() {
    add("uchar", 7, 6, 5, false);
    add("short_s", 6, 7, 4, true);
    add("float", 5, 5, 6, false);
    add("double", 8, 4, 3, true);
    add("int", 6, 6, 6, false);
  }

  TestVolume &at(int v) { return *volumes_[static_cast<std::size_t>(v)]; }
  const kernels_test::Unit &unit(int v) const { return *units_[static_cast<std::size_t>(v)]; }
  int count() const { return static_cast<int>(volumes_.size()); }

 private:
  void add(const char *suffix, int32_t d0, int32_t d1, int32_t d2, bool per_plane) {
    const kernels_test::Unit &unit = kernels_test::unit_named(suffix);
    auto vol = std::make_unique<TestVolume>(unit, d0, d1, d2, [](int i, int j, int k) {
      // 0 to 22: every encoding, unsigned ones too, holds each value.
      return static_cast<double>((i * 37 + j * 11 + k * 5) % 23);
    });
    for (int32_t k = 0; k < d2; ++k) {
      vol->set_plane_scaling(k, per_plane ? 1.0 + 0.25 * k : 0.75, per_plane ? -0.5 * k : 3.0);
    }
    units_.push_back(&unit);
    volumes_.push_back(std::move(vol));
  }

  std::vector<const kernels_test::Unit *> units_;
  std::vector<std::unique_ptr<TestVolume>> volumes_;
};

void append(std::vector<uint64_t> &out, const std::vector<double> &values) {
  for (double v : values) out.push_back(bits(v));
}

class Hammer {
 public:
  Hammer() {
    const int32_t holds[] = {0, 1, 2, 3, 4, 7, -1, -3, -4, 300};
    for (int v = 0; v < volumes_.count(); ++v) {
      for (int32_t hold : holds) {
        for (Kernel k : {Kernel::kResample, Kernel::kResampleGradient, Kernel::kSlice}) {
          requests_.push_back(Request{v, k, hold});
        }
      }
      for (int32_t choice : {3, -3}) {
        for (Kernel k : {Kernel::kChoiceThenResamplePoly, Kernel::kChoiceThenGradientPoly,
                         Kernel::kChoiceThenSlicePoly}) {
          requests_.push_back(Request{v, k, choice});
        }
      }
    }
    requests_.push_back(Request{0, Kernel::kMapSampleRelease, 1});
    requests_.push_back(Request{0, Kernel::kMapSampleRelease, -3});
    const hxSize dims[3] = {6, 5, 4};
    host_array_ = hxCreateNumericArray(3, dims, hxINT16_CLASS, hxREAL);
    auto *voxels = static_cast<int16_t *>(hxGetPr(host_array_));
    for (int e = 0; e < 6 * 5 * 4; ++e) voxels[e] = static_cast<int16_t>(e * 7 % 31 - 9);
  }
  ~Hammer() { hxDestroyArray(host_array_); }
  Hammer(const Hammer &) = delete;
  Hammer &operator=(const Hammer &) = delete;

  std::size_t size() const { return requests_.size(); }

  std::string describe(std::size_t r) const {
    std::ostringstream text;
    text << "request " << r << ": volume " << volumes_.unit(requests_[r].volume).suffix
         << ", kernel " << static_cast<int>(requests_[r].kernel) << ", hold " << requests_[r].hold;
    return text.str();
  }

  // The bits of every result of request r.
  std::vector<uint64_t> run(std::size_t r) {
    const Request &q = requests_[r];
    TestVolume &vol = volumes_.at(q.volume);
    const kernels_test::Unit &unit = volumes_.unit(q.volume);
    const std::vector<double> x = coordinates(vol.dim(0), 1), y = coordinates(vol.dim(1), 2),
                              z = coordinates(vol.dim(2), 3);
    const auto m = static_cast<int32_t>(x.size());
    std::vector<double> out(x.size()), gx(x.size()), gy(x.size()), gz(x.size());
    std::vector<double> image(9 * 7);
    // A rotation about z with a shift, and one with a W that varies.
    const double rotation[16] = {0.8, 0.6, 0.05, 0, -0.6, 0.8,  0.02, 0,
                                 0,   0,   1,    0, 1.3,  -0.7, 1.4,  1};
    const double projective[16] = {1, 0, 0, 0.01, 0, 1, 0, 0.02, 0, 0, 1, 0, 0.2, 0.1, 2.0, 1};
    const double *mat = q.hold % 2 == 0 ? rotation : projective;
    std::vector<uint64_t> result;
    const VolumeMap map = vol.map();
    switch (q.kernel) {
      case Kernel::kResample:
        result.push_back(static_cast<uint64_t>(
            resample(m, &map, out.data(), x.data(), y.data(), z.data(), q.hold, -2.5)));
        append(result, out);
        break;
      case Kernel::kResampleGradient:
        result.push_back(
            static_cast<uint64_t>(resample_d(m, &map, out.data(), gx.data(), gy.data(), gz.data(),
                                             x.data(), y.data(), z.data(), q.hold, -2.5)));
        for (const auto *values : {&out, &gx, &gy, &gz}) append(result, *values);
        break;
      case Kernel::kSlice:
        result.push_back(static_cast<uint64_t>(slice(mat, image.data(), 9, 7, &map, q.hold, -2.5)));
        append(result, image);
        break;
      case Kernel::kChoiceThenResamplePoly:
        vol.sample(2.5, 2.5, 2.5, q.hold);
        unit.resample_poly(m, vol.data(), out.data(), x.data(), y.data(), z.data(), vol.dim(0),
                           vol.dim(1), vol.dim(2), 4, -2.5, vol.scale(), vol.offset());
        append(result, out);
        break;
      case Kernel::kChoiceThenGradientPoly:
        unit.resample_d(1, vol.data(), out.data(), gx.data(), gy.data(), gz.data(), x.data(),
                        y.data(), z.data(), vol.dim(0), vol.dim(1), vol.dim(2), q.hold, -2.5,
                        vol.scale(), vol.offset());
        unit.resample_d_poly(m, vol.data(), out.data(), gx.data(), gy.data(), gz.data(), x.data(),
                             y.data(), z.data(), vol.dim(0), vol.dim(1), vol.dim(2), 4, -2.5,
                             vol.scale(), vol.offset());
        for (const auto *values : {&out, &gx, &gy, &gz}) append(result, *values);
        break;
      case Kernel::kChoiceThenSlicePoly:
        vol.sample(2.5, 2.5, 2.5, q.hold);
        result.push_back(static_cast<uint64_t>(
            unit.slice_poly(rotation, image.data(), 9, 7, vol.data(), vol.dim(0), vol.dim(1),
                            vol.dim(2), 4, -2.5, vol.scale(), vol.offset())));
        append(result, image);
        break;
      case Kernel::kMapSampleRelease: {
        int32_t n = 0;
        VolumeMap *maps = get_maps(host_array_, &n);
        result.push_back(static_cast<uint64_t>(n));
        result.push_back(static_cast<uint64_t>(
            resample(m, maps, out.data(), x.data(), y.data(), z.data(), q.hold, -2.5)));
        free_maps(maps, n);
        append(result, out);
        break;
      }
    }
    return result;
  }

 private:
  Volumes volumes_;
  std::vector<Request> requests_;
  hxArray *host_array_ = nullptr;
};

TEST(ConcurrentCalls, EveryThreadGetsTheBitsOfOneThreadAlone) {
  Hammer hammer;
  std::vector<std::vector<uint64_t>> expected;
  for (std::size_t r = 0; r < hammer.size(); ++r) expected.push_back(hammer.run(r));

  // Per thread: requests that differ from the single-threaded bits, and the
  // first such request.
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::size_t> first(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::size_t> order(hammer.size());
      for (std::size_t r = 0; r < order.size(); ++r) order[r] = r;
      std::mt19937 random(static_cast<uint32_t>(t) + 100u);
      for (int round = 0; round < kRounds; ++round) {
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t r : order) {
          if (hammer.run(r) == expected[r]) continue;
          if (mismatches[static_cast<std::size_t>(t)]++ == 0)
            first[static_cast<std::size_t>(t)] = r;
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    const auto i = static_cast<std::size_t>(t);
    EXPECT_EQ(mismatches[i], 0) << "thread " << t << ", first at " << hammer.describe(first[i]);
  }
}

}  // namespace
