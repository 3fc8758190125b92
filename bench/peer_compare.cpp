// The volume library's side of the comparison with peers: every row of
// the table on the shared data, median of several runs, each row timed
// alternately with the ITK peer's when it was built in. It writes the
// data into the directory it is given, for the scripted peers, and with
// --data-only does nothing else. --rows a,b runs only the rows named and
// --ours-only leaves ITK out and --repeat N runs each row N times as
// often, for profiling one row.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_data.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "source_grid.h"
#include "thread_count.h"
#include "tiled_reslice.h"
#include "timing.h"
#include "volaccess.h"
#include "volume_description.h"
#include "workers.h"

#ifdef BENCH_WITH_ITK
#include "itk_peer.h"
#endif

namespace bench {
namespace {

constexpr int kReps = 7;
constexpr int kResliceReps = 3;

// The rows asked for (empty for all) and how many times as often each runs.
std::vector<std::string> g_rows;
int g_repeat = 1;

bool wanted(const char *row) { return g_rows.empty() || std::find(g_rows.begin(), g_rows.end(), row) != g_rows.end(); }

class Volume16 {
 public:
  explicit Volume16(std::vector<int16_t> &voxels) {
    for (int32_t k = 0; k < kSide; ++k) {
      planes_.push_back(voxels.data() + static_cast<std::size_t>(k) * kSide * kSide);
    }
    scale_.assign(kSide, 1.0);
    offset_.assign(kSide, 0.0);
    map_.dim[0] = map_.dim[1] = map_.dim[2] = kSide;
    map_.scale = scale_.data();
    map_.offset = offset_.data();
    map_.dtype = 4;
    map_.data = planes_.data();
  }
  const VolumeMap *map() const { return &map_; }

 private:
  std::vector<void *> planes_;
  std::vector<double> scale_;
  std::vector<double> offset_;
  VolumeMap map_{};
};

// One row: our run and, when ITK is built in, ITK's, timed alternately;
// per reports each median in the row's unit.
void compare(const char *row, int reps, const std::function<void()> &ours, const std::function<void()> &itk,
             double per) {
  if (!wanted(row)) return;
  const std::pair<double, double> t = median_pair(reps * g_repeat, ours, itk);
  report(row, "ours", t.first * per);
  if (itk) report(row, "itk", t.second * per);
}

std::function<void()> points_run(const VolumeMap *map, const PointSet &p, int32_t hold, std::vector<double> &out) {
  return [map, &p, hold, &out] {
    resample(static_cast<int32_t>(p.x.size()), map, out.data(), p.x.data(), p.y.data(), p.z.data(), hold, 0.0);
  };
}

struct GradientOut {
  std::vector<double> value, gx, gy, gz;
};

std::function<void()> gradient_run(const VolumeMap *map, const PointSet &p, int32_t hold, GradientOut &g) {
  return [map, &p, hold, &g] {
    resample_d(static_cast<int32_t>(p.x.size()), map, g.value.data(), g.gx.data(), g.gy.data(), g.gz.data(), p.x.data(),
               p.y.data(), p.z.data(), hold, 0.0);
  };
}

// The middle plane of the rotated volume, 256 x 256 pixels.
std::function<void()> slice_run(const VolumeMap *map, const BenchData &data, std::vector<double> &image) {
  return [map, &data, &image] {
    const std::array<double, 16> mat = plane_transform(data.rotation, kSide / 2);
    slice(mat.data(), image.data(), kSide, kSide, map, 1, 0.0);
  };
}

// The whole rotated volume as the program's reslice command computes it,
// slab by slab in tiles shared among the workers, straight into out
// instead of a file, with the values of `sampler`.
std::function<void()> reslice_with(const vaeng::PointSampler &sampler, const BenchData &data,
                                   const vaeng::Workers &workers, std::vector<double> &out) {
  return [sampler, &data, &workers, &out] {
    const vaeng::GridSize grid{kSide, kSide, kSide};
    const vaeng::PointMap points = vaeng::affine_points(data.rotation);
    const int64_t depth = vaeng::slab_planes(grid);
    const auto plane = static_cast<std::size_t>(kSide) * kSide;
    for (int64_t k0 = 0; k0 < kSide; k0 += depth) {
      vaeng::reslice_slab(workers, grid, k0, std::min<int64_t>(depth, kSide - k0), points, sampler,
                          out.data() + plane * static_cast<std::size_t>(k0));
    }
  };
}

// The same with the library's kernel of `hold`.
std::function<void()> reslice_run(const VolumeMap *map, const BenchData &data, int32_t hold,
                                  const vaeng::Workers &workers, std::vector<double> &out) {
  const vaeng::PointSampler kernel = [map, hold](int32_t n, const double *x, const double *y, const double *z,
                                                 double *values) { resample(n, map, values, x, y, z, hold, 0.0); };
  return reslice_with(kernel, data, workers, out);
}

// The same with the label rule, as the program's --hold label samples.
std::function<void()> reslice_labels(const vaeng::SourceGrid &labels, const BenchData &data,
                                     const vaeng::Workers &workers, std::vector<double> &out) {
  const vaeng::PointSampler rule = [&labels](int32_t n, const double *x, const double *y, const double *z,
                                             double *values) { labels.labels_at(n, x, y, z, 0.0, values); };
  return reslice_with(rule, data, workers, out);
}

// The bench volume cut into bands of 1024 values: some 25 labels in
// regions of many voxels whose borders the noise makes ragged, as in a
// label map.
std::vector<int16_t> label_voxels(const std::vector<int16_t> &voxels) {
  std::vector<int16_t> labels(voxels.size());
  std::transform(voxels.begin(), voxels.end(), labels.begin(),
                 [](int16_t v) { return static_cast<int16_t>(v / 1024); });
  return labels;
}

// A label reslice against a nearest-neighbour one on the same label map,
// both on one thread; then the label rule on the bench volume itself,
// whose noise gives nearly every cell corners of several values.
void label_rows(BenchData &data, std::vector<double> &volume_out) {
  std::vector<int16_t> labels = label_voxels(data.voxels);
  const Volume16 label_map(labels);
  const vaeng::SourceGrid rule(label_map.map(), "labels");
  const Volume16 noisy(data.voxels);
  const vaeng::SourceGrid noisy_rule(noisy.map(), "bench volume");
  const vaeng::Workers one(1);
  const std::function<void()> none;
  compare("reslice_nearest_labels", kResliceReps, reslice_run(label_map.map(), data, 0, one, volume_out), none, 1.0);
  compare("reslice_label", kResliceReps, reslice_labels(rule, data, one, volume_out), none, 1.0);
  compare("reslice_label_noise", kResliceReps, reslice_labels(noisy_rule, data, one, volume_out), none, 1.0);
  // One point a call, as a Python call samples one, in microseconds a call:
  // the trilinear kernel, and the label rule with its grid made for the call.
  constexpr int kCalls = 10000;
  const double c = 100.3;
  double sink = 0.0;
  const auto calls = [&sink](const std::function<double()> &call) {
    return [&sink, call] {
      for (int n = 0; n < kCalls; ++n) sink += call();
    };
  };
  compare("one_point_trilinear", kReps, calls([&] {
            double v = 0.0;
            resample(1, label_map.map(), &v, &c, &c, &c, 1, 0.0);
            return v;
          }),
          none, 1e6 / kCalls);
  compare("one_point_label", kReps,
          calls([&] { return vaeng::SourceGrid(label_map.map(), "labels").label_at(c, c, c, 0.0); }), none,
          1e6 / kCalls);
  if (sink != sink) std::printf("# NaN sample\n");
}

std::string write_nifti(const std::string &dir, const BenchData &data, int32_t side) {
  const std::string path = dir + "/volume" + std::to_string(side) + ".nii";
  vaeng::NiftiLayout layout;
  layout.dim = {side, side, side};
  layout.datatype = vaeng::find_nifti_datatype(4);
  vaeng::NiftiWriter writer(path, layout);
  std::vector<double> plane(static_cast<std::size_t>(side) * side);
  for (int32_t k = 0; k < side; ++k) {
    for (int32_t j = 0; j < side; ++j) {
      for (int32_t i = 0; i < side; ++i) {
        const std::size_t e = static_cast<std::size_t>(i) + kSide * (j + static_cast<std::size_t>(kSide) * k);
        plane[static_cast<std::size_t>(i) + static_cast<std::size_t>(side) * j] = data.voxels[e];
      }
    }
    writer.write_plane(plane);
  }
  writer.finish();
  // Written back before it is timed: a page still being written back can
  // stall the first read of a fresh mapping.
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return path;
}

// Opening the image, mapping its volume through the library and sampling
// its centre; nothing is read beyond the header and the voxels sampled.
double open_and_sample_us(const std::string &path) {
  double sink = 0.0;
  const double s = median_seconds(101, [&] {
    const vaeng::NiftiImage image = vaeng::NiftiImage::open(path);
    const vaeng::MappedVolume volume(image, 1);
    const double c = static_cast<double>(volume.map().dim[0] + 1) / 2.0;
    double v = 0.0;
    resample(1, &volume.map(), &v, &c, &c, &c, 1, 0.0);
    sink += v;
  });
  if (sink != sink) std::printf("# NaN sample\n");
  return s * 1e6;
}

// The floor: a plain open, fstat and read-only mapping of the file, one
// voxel read, unmapped and closed.
double plain_mmap_us(const std::string &path) {
  volatile int16_t sink = 0;
  const double s = median_seconds(101, [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return;
    const auto size = static_cast<std::size_t>(st.st_size);
    void *p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) {
      sink = static_cast<const int16_t *>(p)[size / 4];
      ::munmap(p, size);
    }
    ::close(fd);
  });
  (void)sink;
  return s * 1e6;
}

using PeerRow = std::function<std::function<void()>(const std::string &)>;

void run_rows(BenchData &data, const std::string &dir, const PeerRow &peer) {
  const Volume16 vol(data.voxels);
  const VolumeMap *map = vol.map();
  std::vector<double> out(data.random.x.size());
  GradientOut g{out, out, out, out};
  std::vector<double> image(static_cast<std::size_t>(kSide) * kSide);
  std::vector<double> volume_out(image.size() * kSide);
  const double per_point = 1e9 / static_cast<double>(kPoints);
  const double per_pixel = 1e9 / static_cast<double>(image.size());
  compare("nearest_random", kReps, points_run(map, data.random, 0, out), peer("nearest_random"), per_point);
  compare("trilinear_random", kReps, points_run(map, data.random, 1, out), peer("trilinear_random"), per_point);
  compare("trilinear_rows", kReps, points_run(map, data.rows, 1, out), peer("trilinear_rows"), per_point);
  compare("lagrange4_random", kReps, points_run(map, data.random, 3, out), peer("lagrange4_random"), per_point);
  compare("sinc4_random", kReps, points_run(map, data.random, -3, out), peer("sinc4_random"), per_point);
  compare("trilinear_grad_random", kReps, gradient_run(map, data.random, 1, g), peer("trilinear_grad_random"),
          per_point);
  compare("slice_trilinear", kReps * 5, slice_run(map, data, image), peer("slice_trilinear"), per_pixel);
  const vaeng::Workers one(1);
  const vaeng::Workers all(vaeng::thread_count(std::nullopt));
  report("threads", "ours", all.threads());
  compare("reslice_trilinear", kResliceReps, reslice_run(map, data, 1, one, volume_out), peer("reslice_trilinear"),
          1.0);
  compare("reslice_sinc4", kResliceReps, reslice_run(map, data, -3, one, volume_out), peer("reslice_sinc4"), 1.0);
  compare("reslice_trilinear_default", kResliceReps, reslice_run(map, data, 1, all, volume_out),
          peer("reslice_trilinear_default"), 1.0);
  compare("reslice_sinc4_default", kResliceReps, reslice_run(map, data, -3, all, volume_out),
          peer("reslice_sinc4_default"), 1.0);
  label_rows(data, volume_out);
  if (!wanted("open_sample")) return;
  const std::string large = write_nifti(dir, data, kSide);
  const std::string small = write_nifti(dir, data, 32);
  report("open_sample", "ours", open_and_sample_us(large));
  report("open_sample_32", "ours", open_and_sample_us(small));
  report("open_sample", "mmap", plain_mmap_us(large));
}

// Splits "a,b" into its names.
std::vector<std::string> split_rows(const std::string &list) {
  std::vector<std::string> rows;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    rows.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return rows;
}

}  // namespace
}  // namespace bench

int main(int argc, char **argv) {
  bool data_only = false;
  bool ours_only = false;
  bool usage = argc < 2;
  for (int a = 2; a < argc && !usage; ++a) {
    const std::string arg = argv[a];
    if (arg == "--data-only") {
      data_only = true;
    } else if (arg == "--ours-only") {
      ours_only = true;
    } else if (arg == "--repeat" && a + 1 < argc) {
      bench::g_repeat = std::max(1, std::atoi(argv[++a]));
    } else if (arg == "--rows" && a + 1 < argc) {
      bench::g_rows = bench::split_rows(argv[++a]);
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(stderr, "usage: %s DATA_DIR [--data-only] [--rows ROW,...] [--ours-only] [--repeat N]\n", argv[0]);
    return 2;
  }
  bench::BenchData data = bench::make_bench_data();
  bench::write_bench_data(data, argv[1]);
  if (data_only) return 0;
#ifdef BENCH_WITH_ITK
  if (!ours_only) {
    bench::ItkPeer itk(data);
    bench::report("threads", "itk", itk.default_threads());
    bench::run_rows(data, argv[1], [&itk](const std::string &row) { return itk.row(row); });
    return 0;
  }
#else
  (void)ours_only;  // without ITK there is only our side
#endif
  bench::run_rows(data, argv[1], [](const std::string &) { return std::function<void()>(); });
  return 0;
}
