// volaccess slice: one 2-D image cut out of a volume, as PNG or .npy.
#include <cmath>
#include <optional>
#include <string>

#include "arguments.h"
#include "cli_error.h"
#include "commands.h"
#include "npy_writer.h"
#include "png_writer.h"
#include "slicing.h"
#include "text_numbers.h"

namespace vacli {

namespace {

struct SliceRequest {
  Mat4 transform{};
  std::array<int32_t, 2> size{};
};

// Exactly one of the four ways to say which image to cut.
SliceRequest slice_request(const Arguments &args, const VolumeMap &map) {
  const Plane planes[] = {Plane::Axial, Plane::Coronal, Plane::Sagittal};
  std::optional<SliceRequest> request;
  int given = 0;
  for (Plane plane : planes) {
    const std::optional<std::string> v = args.value(plane_name(plane));
    if (!v) continue;
    ++given;
    const auto count = static_cast<int64_t>(plane_count(plane, map.dim));
    const int64_t index = parse_integer(plane_name(plane), *v, 1, count);
    request = SliceRequest{plane_transform(plane, static_cast<double>(index)), plane_size(plane, map.dim)};
  }
  if (const std::optional<std::string> m = args.value("transform")) {
    ++given;
    request = SliceRequest{parse_matrix_text("transform", *m),
                           {static_cast<int32_t>(map.dim[0]), static_cast<int32_t>(map.dim[1])}};
  }
  if (given != 1) throw UsageError("'slice' needs exactly one of --axial, --coronal, --sagittal, --transform");
  if (const std::optional<std::string> s = args.value("size")) {
    const auto wh = parse_size(*s);
    request->size = {wh.first, wh.second};
  }
  return *request;
}

std::optional<Window> window_option(const Arguments &args) {
  const std::optional<std::string> v = args.value("window");
  if (!v) return std::nullopt;
  const std::vector<std::string> f = split_fields(*v);
  const std::optional<double> low = f.size() == 2 ? to_double(f[0]) : std::nullopt;
  const std::optional<double> high = f.size() == 2 ? to_double(f[1]) : std::nullopt;
  if (!low || !high || !std::isfinite(*low) || !std::isfinite(*high) || !(*low < *high))
    throw UsageError("--window: '" + *v + "' is not LOW,HIGH with LOW below HIGH");
  return Window{*low, *high};
}

void run_slice(const Arguments &args) {
  const std::string path = args.only_positional("an IMAGE");
  const std::string out = required_option(args, "output");
  const bool png = ends_with(out, ".png") || ends_with(out, ".PNG");
  if (!png && !ends_with(out, ".npy")) throw UsageError(out + ": the output must end in .png or .npy");
  const int32_t hold = hold_option(args);
  const double background = background_option(args);
  const std::optional<Window> window = window_option(args);
  const int64_t volume = volume_option(args);

  const NiftiImage image = NiftiImage::open(path);
  const MappedVolume mapped(image, volume);
  const SliceRequest request = slice_request(args, mapped.map());
  const SliceImage cut = cut_slice(mapped, request.transform, request.size[0], request.size[1], hold, background);
  if (png)
    write_png(out, cut.pixels, cut.width, cut.height, window ? *window : robust_window(cut.pixels));
  else
    write_npy(out, cut.pixels, cut.width, cut.height);
}

}  // namespace

const CommandDef &slice_command() {
  static const CommandDef command{
      "slice",
      "IMAGE -o OUT.png|.npy",
      "one plane, or a cut under any 4x4 transform",
      "IMAGE -o OUT (--axial K | --coronal J | --sagittal I | --transform M) [options]",
      "Cuts one 2-D image out of the volume and writes it as an 8-bit grey PNG picture or as a\n"
      ".npy array of the exact doubles (array[i-1, j-1] is pixel (i, j)). Pictures are drawn\n"
      "with the second axis pointing up.\n",
      {{"axial", "K", "plane z = K (1-based), pixels along x and y"},
       {"coronal", "J", "plane y = J, pixels along x and z"},
       {"sagittal", "I", "plane x = I, pixels along y and z"},
       {"transform", "M",
        "16 numbers, a 4x4 matrix row by row, taking pixel (i, j, 0, 1)\n"
        "to 1-based voxel coordinates"},
       {"size", "WxH", "image size (default: the plane's own size; for --transform, x by y)"},
       {"hold", "N", "interpolation (default 1, trilinear)"},
       {"background", "V", "value outside the volume (default 0; 'nan' accepted)"},
       {"window", "LO,HI",
        "grey levels from LO (black) to HI (white); default: the 1st to\n"
        "99th percentile of the image"},
       {"volume", "T", "volume of a 4-D image, from 1 (default 1)"},
       {"output", "OUT", "the output file, ending in .png or .npy", 'o'}},
      run_slice};
  return command;
}

}  // namespace vacli
