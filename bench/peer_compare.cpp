// The volume library's side of the comparison with peers: every row of
// the table on the shared data, median of several runs, plus the ITK
// peer's rows when it was built in. With a directory argument it also
// writes the data there for the scripted peers.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_data.h"
#include "nifti_header.h"
#include "nifti_image.h"
#include "nifti_writer.h"
#include "timing.h"
#include "volaccess.h"
#include "volume_description.h"

#ifdef BENCH_WITH_ITK
#include "itk_peer.h"
#endif

namespace bench {
namespace {

constexpr int kReps = 7;
constexpr int kResliceReps = 3;

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

double points_ns(const VolumeMap *map, const PointSet &p, int32_t hold) {
  std::vector<double> out(p.x.size());
  const auto m = static_cast<int32_t>(p.x.size());
  const double s = median_seconds(kReps, [&] {
    resample(m, map, out.data(), p.x.data(), p.y.data(), p.z.data(), hold, 0.0);
  });
  return s * 1e9 / m;
}

double gradient_ns(const VolumeMap *map, const PointSet &p, int32_t hold) {
  const std::size_t n = p.x.size();
  std::vector<double> out(n), gx(n), gy(n), gz(n);
  const auto m = static_cast<int32_t>(n);
  const double s = median_seconds(kReps, [&] {
    resample_d(m, map, out.data(), gx.data(), gy.data(), gz.data(), p.x.data(), p.y.data(),
               p.z.data(), hold, 0.0);
  });
  return s * 1e9 / m;
}

// The middle plane of the rotated volume, 256 x 256 pixels.
double oblique_slice_ns(const VolumeMap *map, const BenchData &data) {
  std::vector<double> image(static_cast<std::size_t>(kSide) * kSide);
  const std::array<double, 16> mat = plane_transform(data.rotation, kSide / 2);
  const double s = median_seconds(kReps * 5, [&] {
    slice(mat.data(), image.data(), kSide, kSide, map, 1, 0.0);
  });
  return s * 1e9 / static_cast<double>(image.size());
}

// The whole rotated volume, plane by plane, as the program's reslice
// command cuts it (without writing the file).
double reslice_seconds(const VolumeMap *map, const BenchData &data, int32_t hold) {
  const std::size_t plane = static_cast<std::size_t>(kSide) * kSide;
  std::vector<double> out(plane * kSide);
  return median_seconds(kResliceReps, [&] {
    for (int32_t k = 1; k <= kSide; ++k) {
      const std::array<double, 16> mat = plane_transform(data.rotation, k);
      slice(mat.data(), out.data() + plane * static_cast<std::size_t>(k - 1), kSide, kSide, map,
            hold, 0.0);
    }
  });
}

std::string write_nifti(const std::string &dir, const BenchData &data, int32_t side) {
  const std::string path = dir + "/volume" + std::to_string(side) + ".nii";
  vacli::NiftiOutputSpec spec;
  spec.dim = {side, side, side};
  spec.datatype = vacli::find_nifti_datatype(4);
  vacli::NiftiWriter writer(path, spec);
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
  return path;
}

// Opening the image, mapping its volume through the library and sampling
// its centre; nothing is read beyond the header and the voxels sampled.
double open_and_sample_us(const std::string &path) {
  double sink = 0.0;
  const double s = median_seconds(101, [&] {
    const vacli::NiftiImage image = vacli::NiftiImage::open(path);
    const vacli::MappedVolume volume(image, 1);
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

void run_ours(BenchData &data, const std::string &dir) {
  const Volume16 vol(data.voxels);
  report("nearest_random", "ours", points_ns(vol.map(), data.random, 0));
  report("trilinear_random", "ours", points_ns(vol.map(), data.random, 1));
  report("trilinear_rows", "ours", points_ns(vol.map(), data.rows, 1));
  report("lagrange4_random", "ours", points_ns(vol.map(), data.random, 3));
  report("sinc4_random", "ours", points_ns(vol.map(), data.random, -3));
  report("trilinear_grad_random", "ours", gradient_ns(vol.map(), data.random, 1));
  report("slice_trilinear", "ours", oblique_slice_ns(vol.map(), data));
  report("reslice_trilinear", "ours", reslice_seconds(vol.map(), data, 1));
  report("reslice_sinc4", "ours", reslice_seconds(vol.map(), data, -3));
  const std::string large = write_nifti(dir, data, kSide);
  const std::string small = write_nifti(dir, data, 32);
  report("open_sample", "ours", open_and_sample_us(large));
  report("open_sample_32", "ours", open_and_sample_us(small));
  report("open_sample", "mmap", plain_mmap_us(large));
}

}  // namespace
}  // namespace bench

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATA_DIR\n", argv[0]);
    return 2;
  }
  bench::BenchData data = bench::make_bench_data();
  bench::write_bench_data(data, argv[1]);
  bench::run_ours(data, argv[1]);
#ifdef BENCH_WITH_ITK
  bench::run_itk(data);
#endif
  return 0;
}
