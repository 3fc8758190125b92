// volaccess demo: the whole road on an embedded phantom. It writes the
// phantom as NIfTI, reslices it under a rotation with windowed-sinc
// interpolation and draws three orthogonal slices of input and result.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "check_picture.h"
#include "commands.h"
#include "errors.h"
#include "output_file.h"
#include "phantom.h"
#include "png_writer.h"
#include "progress.h"
#include "reslicing.h"
#include "sampling.h"
#include "slicing.h"
#include "thread_count.h"
#include "unique_fd.h"

namespace vacli {

namespace {

constexpr int32_t kSincHold = -5;  // Hann-windowed sinc over 6 nodes per axis
constexpr double kRotateZ = 20, kRotateY = 12;
const Window kWindow{0, 110};  // the phantom's values run from 0 to 130

void make_folder(const std::string &dir) {
  if (::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    fail(dir, "exists and is not a folder");
  }
  fail_system(dir, "cannot create the folder", errno);
}

void write_phantom(const Phantom &p, const std::string &path) {
  NiftiWriter writer(path, p.layout);
  const auto plane = static_cast<std::size_t>(p.layout.dim[0] * p.layout.dim[1]);
  for (int64_t k = 0; k < p.layout.dim[2]; ++k) {
    const auto start = p.values.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(k) * plane);
    writer.write_plane(std::vector<double>(start, start + static_cast<std::ptrdiff_t>(plane)));
  }
  writer.finish();
}

void write_affine(const Mat4 &m, const std::string &path) {
  std::string text = "# world-space rotation applied to the phantom, row by row\n";
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) text += (c ? " " : "") + format_double(at(m, r, c));
    text += '\n';
  }
  OutputFile out(path);
  write_all(out.fd(), text.data(), text.size(), path);
  out.commit();
}

// The three central planes of a volume, drawn one picture each, and
// returned for the overview.
std::vector<SliceImage> draw_planes(const std::string &image_path, const std::string &dir, const std::string &stem,
                                    const Workers &workers) {
  const NiftiImage image = NiftiImage::open(image_path);
  const MappedVolume volume(image, 1);
  std::vector<SliceImage> cuts;
  for (Plane plane : {Plane::Axial, Plane::Coronal, Plane::Sagittal}) {
    const double middle = static_cast<double>((plane_count(plane, volume.map().dim) + 1) / 2);
    const std::array<int32_t, 2> size = plane_size(plane, volume.map().dim);
    cuts.push_back(cut_slice(volume, plane_transform(plane, middle), size[0], size[1], 1, 0, workers));
    const SliceImage &cut = cuts.back();
    const std::string name = stem + "-" + plane_name(plane) + ".png";
    write_png(dir + "/" + name, cut.pixels, cut.width, cut.height, kWindow);
    std::printf("  %-24s %s plane of the %s\n", name.c_str(), plane_name(plane), stem.c_str());
  }
  return cuts;
}

// Two rows of three panels, each voxel drawn as a zoom-by-zoom block: the
// input above, the result below, with black gaps around and between them.
void draw_overview(const std::vector<SliceImage> &top, const std::vector<SliceImage> &bottom, const std::string &path) {
  const int32_t gap = 8, zoom = 2;
  int32_t width = gap, row_height = 0;
  for (const SliceImage &s : top) {
    width += zoom * s.width + gap;
    row_height = std::max(row_height, zoom * s.height);
  }
  const int32_t height = 2 * row_height + 3 * gap;
  std::vector<double> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), std::nan(""));
  // Pixel rows count upwards, so the lower row of panels starts at j = gap.
  const auto place = [&](const std::vector<SliceImage> &panels, int32_t j0) {
    int32_t i0 = gap;
    for (const SliceImage &s : panels) {
      for (int32_t j = 0; j < zoom * s.height; ++j)
        for (int32_t i = 0; i < zoom * s.width; ++i)
          pixels[static_cast<std::size_t>(i0 + i) +
                 static_cast<std::size_t>(width) * static_cast<std::size_t>(j0 + j)] =
              s.pixels[static_cast<std::size_t>(i / zoom) +
                       static_cast<std::size_t>(s.width) * static_cast<std::size_t>(j / zoom)];
      i0 += zoom * s.width + gap;
    }
  };
  place(bottom, gap);
  place(top, 2 * gap + row_height);
  write_png(path, pixels, width, height, kWindow);
}

// The rotated phantom over the phantom's edges: what a failed
// registration looks like.
void draw_check(const std::string &image_path, const std::string &ref_path, const std::string &path,
                const Workers &workers) {
  const NiftiImage image = NiftiImage::open(image_path);
  const MappedVolume image_volume(image, 1);
  const NiftiImage ref = NiftiImage::open(ref_path);
  const MappedVolume ref_volume(ref, 1);
  CheckRequest request;
  request.window = kWindow;
  write_picture(path, check_picture(image_volume, ref_volume, request, workers));
}

void run_demo(const Arguments &args) {
  if (!args.positional().empty()) throw ArgumentError("unexpected argument " + quoted(args.positional()[0]));
  const std::string dir = args.value("out").value_or("volaccess-demo");
  const Workers workers(thread_count(args.value("threads")));
  make_folder(dir);
  std::printf("volaccess demo: writing into the folder %s/\n", dir.c_str());

  const Phantom phantom = make_phantom();
  const std::string phantom_path = dir + "/phantom.nii.gz";
  write_phantom(phantom, phantom_path);
  std::printf("  %-24s %lld x %lld x %lld int16 phantom, oblique sform, scale 0.25, offset 10\n", "phantom.nii.gz",
              static_cast<long long>(phantom.layout.dim[0]), static_cast<long long>(phantom.layout.dim[1]),
              static_cast<long long>(phantom.layout.dim[2]));

  ResliceOptions options;
  options.hold = kSincHold;
  options.progress = progress_bars(stderr_is_terminal());
  options.threads = workers.threads();
  const Mat4 rotation = rotation_zy(kRotateZ, kRotateY);
  const std::string rotation_path = dir + "/rotation.txt";
  write_affine(rotation, rotation_path);
  Mat4 back{};
  invert(rotation, &back);
  TransformChain chain;
  chain.then_affine(back);
  chain.add_name(rotation_path);
  std::printf("  %-24s rotation by 20 degrees about z, then 12 about y\n", "rotation.txt");

  const std::string rotated_path = dir + "/rotated.nii.gz";
  {
    const NiftiImage source = NiftiImage::open(phantom_path);
    NiftiFileSink sink(scaling_words(rotated_path));
    reslice(source, source.header(), chain, options, sink);
  }
  std::printf("  %-24s the phantom resliced under the rotation, windowed sinc over 6 nodes\n", "rotated.nii.gz");

  const std::vector<SliceImage> input = draw_planes(phantom_path, dir, "phantom", workers);
  const std::vector<SliceImage> result = draw_planes(rotated_path, dir, "rotated", workers);
  draw_overview(input, result, dir + "/overview.png");
  std::printf("  %-24s the phantom (top) and the rotated result (bottom)\n", "overview.png");
  draw_check(rotated_path, phantom_path, dir + "/check.png", workers);
  std::printf("  %-24s the rotated result over the phantom's edges\n", "check.png");
}

}  // namespace

const CommandDef &demo_command() {
  static const CommandDef command{
      "demo",
      "[--out DIR]",
      "a phantom, resliced under a rotation, with pictures",
      "[--out DIR] [--threads N]",
      "Synthesises a 3-D phantom with an oblique voxel-to-world matrix and scaled int16\n"
      "voxels, writes it as NIfTI, reslices it under a rotation with windowed-sinc\n"
      "interpolation, and draws axial, coronal and sagittal slices of both as PNG pictures,\n"
      "and the result over the phantom's edges as 'volaccess check' draws it.\n",
      {{"out", "DIR", "the folder for the results (default: volaccess-demo)"}, kThreadsOption},
      run_demo};
  return command;
}

}  // namespace vacli
