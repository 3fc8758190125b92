// Work shared among threads: the thread count, the parallel loop, the
// tiles of a reslice and the rows of a slice, whose results never depend
// on how many threads there are.
#include <gtest/gtest.h>
#include <sched.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "errors.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "scratch_bytes.h"
#include "slicing.h"
#include "thread_count.h"
#include "tiled_reslice.h"
#include "volume_description.h"
#include "workers.h"

namespace {

using vacli_test::ScratchDir;
using vaeng::GridSize;
using vaeng::Mat4;
using vaeng::Tile;
using vaeng::Workers;

const int kThreadCounts[] = {1, 2, 3, 8};

std::string usage_error(const std::function<void()> &f) {
  try {
    f();
  } catch (const vaeng::ArgumentError &e) {
    return e.what();
  }
  return "no error";
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ThreadCount, AcceptsWholeNumbersFromOneToTheLimit) {
  struct Case {
    const char *text;
    int count;
  };
  for (const Case &c : {Case{"1", 1}, Case{"8", 8}, Case{"1024", 1024}}) {
    EXPECT_EQ(vaeng::parse_thread_count("--threads", c.text), c.count) << c.text;
  }
  for (const char *bad : {"0", "-2", "1025", "two", "1.5", "", "99999999999999999999"}) {
    EXPECT_EQ(usage_error([&] { vaeng::parse_thread_count("--threads", bad); }),
              "--threads: '" + std::string(bad) + "' is not a thread count from 1 to 1024")
        << bad;
  }
}

TEST(ThreadCount, OptionWinsOverVariableWhichWinsOverTheCpus) {
  EXPECT_EQ(vaeng::choose_thread_count(std::string("3"), "5"), 3);
  EXPECT_EQ(vaeng::choose_thread_count(std::nullopt, "5"), 5);
  EXPECT_EQ(vaeng::choose_thread_count(std::nullopt, ""), vaeng::affinity_cpu_count());
  EXPECT_EQ(vaeng::choose_thread_count(std::nullopt, nullptr), vaeng::affinity_cpu_count());
  EXPECT_EQ(usage_error([] { vaeng::choose_thread_count(std::nullopt, "many"); }),
            "VOLACCESS_NUM_THREADS: 'many' is not a thread count from 1 to 1024");
  EXPECT_EQ(vaeng::choose_thread_count(std::string("2"), "many"), 2);
}

TEST(ThreadCount, CountsOnlyTheCpusThisThreadMayRunOn) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  int first = 0;
  while (!CPU_ISSET(first, &all)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const int count = vaeng::affinity_cpu_count();
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(vaeng::affinity_cpu_count(), CPU_COUNT(&all));
}

TEST(Workers, PiecesCoverTheRangeOnceAndRespectTheGrain) {
  for (int threads : kThreadCounts) {
    const Workers workers(threads);
    for (int64_t count : {0, 1, 7, 1000}) {
      for (int64_t grain : {1, 3, 64}) {
        std::vector<int> hits(static_cast<std::size_t>(count), 0);
        std::mutex lock;
        bool too_long = false;
        workers.for_each(count, grain, [&](int64_t begin, int64_t end) {
          const std::lock_guard<std::mutex> hold(lock);
          too_long = too_long || end - begin > grain || end <= begin;
          for (int64_t i = begin; i < end; ++i) ++hits[static_cast<std::size_t>(i)];
        });
        EXPECT_FALSE(too_long) << threads << " threads, grain " << grain;
        EXPECT_EQ(hits, std::vector<int>(static_cast<std::size_t>(count), 1)) << threads << " threads";
      }
    }
  }
}

TEST(Workers, OneThreadRunsEveryPieceOnTheCallingThread) {
  const Workers workers(1);
  std::set<std::thread::id> ids;
  workers.for_each(100, 1, [&](int64_t, int64_t) { ids.insert(std::this_thread::get_id()); });
  EXPECT_EQ(ids, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST(Workers, AnExceptionInAPieceReachesTheCaller) {
  for (int threads : kThreadCounts) {
    const Workers workers(threads);
    EXPECT_THROW(workers.for_each(50, 1,
                                  [](int64_t begin, int64_t) {
                                    if (begin == 17) vaeng::fail("piece 17", "failed");
                                  }),
                 vaeng::Error)
        << threads;
  }
}

// The resident memory of this process, in KiB.
long resident_kib() {
  std::FILE *status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atol(line + 6);
  std::fclose(status);
  return kib;
}

// Python makes Workers for every call. When each made an arena of its own,
// oneTBB kept some 7 KiB per call: 3000 calls grew by about 20 MiB. With
// the arenas shared, they stay level once the first calls have started the
// threads; the bound leaves the allocator room for its own rounding.
TEST(Workers, ThousandsOfShortLivedWorkersKeepMemoryLevel) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers hold memory back, so resident memory tells nothing here";
#endif
  const auto calls = [](int count) {
    for (int c = 0; c < count; ++c) {
      const Workers workers(2);
      workers.for_each(64, 4, [](int64_t, int64_t) {});
    }
  };
  calls(200);
  const long before = resident_kib();
  calls(3000);
  const long after = resident_kib();
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 6 * 1024) << "KiB before " << before << ", after " << after;
}

TEST(Tiles, CoverEveryVoxelOfTheSlabOnce) {
  for (const GridSize grid : {GridSize{1, 1, 1}, GridSize{64, 16, 16}, GridSize{65, 17, 3}, GridSize{200, 40, 5}}) {
    const int64_t k0 = 1, nk = 2;
    std::vector<int> hits(static_cast<std::size_t>(grid.nx * grid.ny * nk), 0);
    for (const Tile &t : vaeng::slab_tiles(grid, k0, nk)) {
      EXPECT_EQ(t.k0, k0);
      EXPECT_EQ(t.nk, nk);
      EXPECT_LE(t.ni, vaeng::kTileX);
      EXPECT_LE(t.nj, vaeng::kTileY);
      for (int64_t k = 0; k < t.nk; ++k)
        for (int64_t j = t.j0; j < t.j0 + t.nj; ++j)
          for (int64_t i = t.i0; i < t.i0 + t.ni; ++i)
            ++hits[static_cast<std::size_t>(i + grid.nx * (j + grid.ny * k))];
    }
    EXPECT_EQ(hits, std::vector<int>(hits.size(), 1)) << grid.nx << "x" << grid.ny;
  }
}

TEST(Tiles, SlabsOfLargePlanesAreThinner) {
  EXPECT_EQ(vaeng::slab_planes(GridSize{256, 256, 256}), vaeng::kTileZ);
  EXPECT_EQ(vaeng::slab_planes(GridSize{4096, 4096, 10}), 1);
  EXPECT_EQ(vaeng::slab_planes(GridSize{100000, 100000, 2}), 1);
  EXPECT_EQ(vaeng::slab_planes(GridSize{1024, 1024, 64}), 8);
}

TEST(AffinePoints, SumsInTheDocumentedOrder) {
  // With i = j = k = 1: ((1e16 + 1) + 1) - 1e16 is 0, as each sum rounds
  // to the even 1e16; summing the small terms first would give 2.
  Mat4 m{};
  m[0] = 1e16;
  m[4] = 1.0;
  m[8] = 1.0;
  m[12] = -1e16;
  m[5] = 3.0;
  m[14] = 0.5;
  double x = -1, y = -1, z = -1;
  vaeng::affine_points(m)(Tile{0, 0, 0, 1, 1, 1}, &x, &y, &z);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 3.0);
  EXPECT_EQ(z, 0.5);
}

// An oblique transform with entries that round differently in any other
// order of sums.
Mat4 oblique() {
  return Mat4{0.8660254037844387,
              -0.3535533905932738,
              0.3535533905932738,
              0,  //
              0.25,
              0.6123724356957945,
              0.75,
              0,  //
              -0.4330127018922193,
              -0.7071067811865476,
              0.5590169943749475,
              0,  //
              3.3,
              -1.7,
              0.1,
              1};
}

TEST(AffinePoints, APointDependsOnlyOnItsVoxel) {
  const vaeng::PointMap points = vaeng::affine_points(oblique());
  const Tile big{3, 5, 7, 9, 4, 1};
  std::vector<double> x(36), y(36), z(36);
  points(big, x.data(), y.data(), z.data());
  for (int64_t b = 0; b < big.nj; ++b) {
    for (int64_t a = 0; a < big.ni; ++a) {
      double px, py, pz;
      points(Tile{big.i0 + a, big.j0 + b, big.k0, 1, 1, 1}, &px, &py, &pz);
      const auto n = static_cast<std::size_t>(a + big.ni * b);
      EXPECT_TRUE(std::memcmp(&px, &x[n], 8) == 0 && std::memcmp(&py, &y[n], 8) == 0 && std::memcmp(&pz, &z[n], 8) == 0)
          << a << "," << b;
    }
  }
}

TEST(AffinePoints, EveryPointOfAWideTileIsTheWrittenOutSum) {
  // Wider than kTileX, so the columns come in more than one run.
  const Mat4 m = oblique();
  const Tile wide{5, 2, 11, vaeng::kTileX * 2 + 7, 3, 1};
  const auto count = static_cast<std::size_t>(wide.ni * wide.nj);
  std::vector<double> x(count), y(count), z(count);
  vaeng::affine_points(m)(wide, x.data(), y.data(), z.data());
  const double k = static_cast<double>(wide.k0 + 1);
  for (int64_t b = 0; b < wide.nj; ++b) {
    for (int64_t a = 0; a < wide.ni; ++a) {
      const double i = static_cast<double>(wide.i0 + a + 1);
      const double j = static_cast<double>(wide.j0 + b + 1);
      const double want[3] = {((m[0] * i + m[4] * j) + m[8] * k) + m[12], ((m[1] * i + m[5] * j) + m[9] * k) + m[13],
                              ((m[2] * i + m[6] * j) + m[10] * k) + m[14]};
      const auto n = static_cast<std::size_t>(a + wide.ni * b);
      const double got[3] = {x[n], y[n], z[n]};
      EXPECT_EQ(std::memcmp(want, got, sizeof want), 0) << a << "," << b;
    }
  }
}

// A noisy int16 image of 37 x 29 x 23 voxels, mapped for sampling.
class NoiseImage {
 public:
  NoiseImage() {
    vaeng::NiftiLayout layout;
    layout.dim = {37, 29, 23};
    layout.datatype = vaeng::find_nifti_datatype(4);
    const std::string path = dir_.file("noise.nii");
    {
      vaeng::NiftiWriter writer(path, layout);
      uint64_t state = 12345;
      std::vector<double> plane(37 * 29);
      for (int64_t k = 0; k < 23; ++k) {
        for (double &v : plane) {
          state = state * 6364136223846793005u + 1442695040888963407u;
          v = static_cast<double>(static_cast<int64_t>(state >> 49)) - 16384.0;
        }
        writer.write_plane(plane);
      }
      writer.finish();
    }
    image_ = std::make_unique<vaeng::NiftiImage>(vaeng::NiftiImage::open(path));
    volume_ = std::make_unique<vaeng::MappedVolume>(*image_, 1);
  }
  const vaeng::MappedVolume &volume() const { return *volume_; }

 private:
  ScratchDir dir_;
  std::unique_ptr<vaeng::NiftiImage> image_;
  std::unique_ptr<vaeng::MappedVolume> volume_;
};

const int32_t kHolds[] = {0, 1, 3, -3};

TEST(TiledReslice, SameBitsWithAnyThreadCountAndAsOnePointAtATime) {
  const NoiseImage noise;
  const GridSize grid{70, 20, 18};  // ragged tiles, two slabs
  const vaeng::PointMap points = vaeng::affine_points(oblique());
  for (int32_t hold : kHolds) {
    const vaeng::PointSampler sampler = vaeng::volume_sampler(noise.volume(), hold, -1.0);
    std::vector<double> alone(static_cast<std::size_t>(grid.nx * grid.ny * grid.nz));
    std::size_t n = 0;
    for (int64_t k = 0; k < grid.nz; ++k)
      for (int64_t j = 0; j < grid.ny; ++j)
        for (int64_t i = 0; i < grid.nx; ++i) {
          double x, y, z;
          points(Tile{i, j, k, 1, 1, 1}, &x, &y, &z);
          sampler(1, &x, &y, &z, &alone[n++]);
        }
    for (int threads : kThreadCounts) {
      const Workers workers(threads);
      std::vector<double> tiled;
      int64_t next = 0;
      vaeng::reslice_grid(workers, grid, points, sampler, [&](int64_t k, const double *plane) {
        EXPECT_EQ(k, next++);
        tiled.insert(tiled.end(), plane, plane + grid.nx * grid.ny);
      });
      EXPECT_TRUE(same_bits(tiled, alone)) << "hold " << hold << ", " << threads << " threads";
    }
  }
}

TEST(RowTransform, OneRowImageIsThatRowOfTheWholeImage) {
  const NoiseImage noise;
  const VolumeMap &map = noise.volume().map();
  Mat4 perspective = oblique();
  perspective[3] = 1e-3;
  perspective[7] = -2e-3;
  Mat4 poisoned = oblique();
  poisoned[8] = std::numeric_limits<double>::infinity();
  // Within 1e-10 of plane 4 at its own size, which the library copies,
  // though a row's second column (j * 5e-11) would leave that range.
  Mat4 near_plane = vaeng::identity4();
  near_plane[4] = 5e-11;
  near_plane[14] = 4;
  struct Case {
    const char *name;
    Mat4 transform;
    int32_t width, height;
  };
  const Case cases[] = {{"oblique", oblique(), 41, 33},
                        {"perspective", perspective, 30, 25},
                        {"infinite third column", poisoned, 12, 9},
                        {"near one plane", near_plane, 37, 29}};
  for (const Case &c : cases) {
    for (int32_t hold : kHolds) {
      const vaeng::SliceImage whole =
          vaeng::cut_slice(noise.volume(), c.transform, c.width, c.height, hold, -1.0, Workers(1));
      for (int threads : {2, 3, 8}) {
        const vaeng::SliceImage rows =
            vaeng::cut_slice(noise.volume(), c.transform, c.width, c.height, hold, -1.0, Workers(threads));
        EXPECT_TRUE(same_bits(rows.pixels, whole.pixels)) << c.name << ", hold " << hold << ", " << threads;
      }
    }
  }
  EXPECT_TRUE(vaeng::may_copy_plane(near_plane, 37, 29, map));
  EXPECT_FALSE(vaeng::may_copy_plane(near_plane, 37, 28, map));
  EXPECT_FALSE(vaeng::may_copy_plane(oblique(), 37, 29, map));
}

TEST(RowTransform, ZeroWFailsWithAnyThreadCount) {
  const NoiseImage noise;
  Mat4 m = vaeng::identity4();
  m[7] = -1.0;  // w = 1 - j: zero on the first row
  for (int threads : kThreadCounts) {
    EXPECT_THROW(vaeng::cut_slice(noise.volume(), m, 10, 6, 1, 0.0, Workers(threads)), vaeng::Error) << threads;
  }
}

}  // namespace
