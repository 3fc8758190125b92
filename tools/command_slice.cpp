// volaccess slice: one 2-D image cut out of a volume, as PNG or .npy.
#include <cmath>
#include <optional>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "errors.h"
#include "notes.h"
#include "npy_writer.h"
#include "output_guard.h"
#include "picture.h"
#include "plane_view.h"
#include "png_writer.h"
#include "slicing.h"
#include "text_numbers.h"
#include "thread_count.h"

namespace vacli {

namespace {

// A plane's position: "mid", or a number (fractions are interpolated).
std::optional<double> position_option(Plane plane, const std::string &text) {
  if (text == "mid") return std::nullopt;
  const std::optional<double> v = to_double(text);
  if (!v || !std::isfinite(*v))
    throw ArgumentError("--" + std::string(plane_name(plane)) + ": " + quoted(text) + " is neither 'mid' nor a number");
  return v;
}

// Which image to cut, as the options say it: a named plane or a
// transform, and perhaps a size.
struct SliceChoice {
  std::optional<PlaneRequest> named;
  Mat4 transform{};
  std::optional<std::array<int32_t, 2>> size;
};

// Exactly one of the four ways to say which image to cut, every value
// checked before any file is opened.
SliceChoice slice_choice(const Arguments &args) {
  const Plane planes[] = {Plane::Axial, Plane::Coronal, Plane::Sagittal};
  SliceChoice choice;
  int given = 0;
  for (Plane plane : planes) {
    const std::optional<std::string> v = args.value(plane_name(plane));
    if (!v) continue;
    ++given;
    choice.named = PlaneRequest{plane, position_option(plane, *v), args.has("world"), std::nullopt};
  }
  const std::optional<std::string> m = args.value("transform");
  given += m ? 1 : 0;
  if (given != 1) throw ArgumentError("'slice' needs exactly one of --axial, --coronal, --sagittal, --transform");
  if (const std::optional<std::string> s = args.value("size")) {
    const auto wh = parse_size(*s);
    choice.size = std::array<int32_t, 2>{wh.first, wh.second};
  }
  if (m) {
    if (args.has("world")) throw ArgumentError("--world names world planes; --transform is given in voxels already");
    choice.transform = parse_matrix_text("transform", *m);
  }
  return choice;
}

// The choice on the open volume.
PlaneView slice_request(const SliceChoice &choice, const VolumeMap &map, const Mat4 &voxel_to_world) {
  if (!choice.named) {
    const std::array<int32_t, 2> wh = choice.size.value_or(
        std::array<int32_t, 2>{static_cast<int32_t>(map.dim[0]), static_cast<int32_t>(map.dim[1])});
    return PlaneView{choice.transform, wh[0], wh[1]};
  }
  PlaneRequest named = *choice.named;
  named.size = choice.size;
  return plane_view(named, map.dim, voxel_to_world);
}

// Grey through the window, or coloured by label; letters on the edges of
// pictures of images that say how they lie in the world.
Picture slice_picture(const Arguments &args, const SliceImage &cut, const std::optional<Window> &window,
                      const NiftiHeader &header, const Mat4 &voxel_to_world, const Mat4 &transform) {
  Picture picture = args.has("labels")
                        ? label_picture(cut.pixels, cut.width, cut.height)
                        : grey_picture(cut.pixels, cut.width, cut.height, window ? *window : robust_window(cut.pixels));
  const bool oriented = header.geometry.qform_code != 0 || header.geometry.sform_code != 0;
  if (oriented && !args.has("no-letters")) draw_letters(&picture, edge_letters(voxel_to_world, transform));
  return picture;
}

// Refuses, before it is cut, an image whose pixels (doubles, in memory)
// or .npy file cannot fit: a --size of a typo, or a --world plane through
// a huge extent at a tiny voxel size.
void check_slice_size(const Arguments &args, const PlaneView &view, const std::string &out, bool png) {
  if (args.has("large-output")) return;
  OutputSize size{{view.width, view.height}, "float64", sizeof(double)};
  OutputPlace place;
  place.file = out;
  place.file_bytes = png ? 0 : voxel_bytes(size);
  place.memory_bytes = voxel_bytes(size);
  const std::optional<std::string> given = args.value("size");
  check_output_size(size, place, (given ? "--size " + *given + "; " : "") + "--large-output cuts it all the same");
}

void run_slice(const Arguments &args) {
  const std::string path = args.only_positional("an IMAGE");
  const std::string out = required_option(args, "output");
  const bool png = ends_with(out, ".png") || ends_with(out, ".PNG");
  if (!png && !ends_with(out, ".npy")) throw ArgumentError(out + ": the output must end in .png or .npy");
  if (!png && args.has("labels")) throw ArgumentError("--labels colours a .png picture; " + out + " is an array");
  if (args.has("labels") && args.has("window"))
    throw ArgumentError("--labels takes no --window: labels have fixed colours");
  const int32_t hold = args.has("labels") && !args.has("hold") ? 0 : hold_option(args);
  const double background = background_option(args);
  const std::optional<Window> window = window_option(args);
  const int64_t volume = volume_option(args);
  const Workers workers(thread_count(args.value("threads")));
  const SliceChoice choice = slice_choice(args);

  const NiftiImage image = NiftiImage::open(path, volume);
  const MappedVolume mapped(image, volume);
  const Mat4 voxel_to_world = mapped.voxel_to_world();
  const PlaneView view = slice_request(choice, mapped.map(), voxel_to_world);
  check_slice_size(args, view, out, png);
  const SliceImage cut = cut_slice(mapped, view.transform, view.width, view.height, hold, background, workers);
  if (png)
    write_picture(out, slice_picture(args, cut, window, image.header(), voxel_to_world, view.transform));
  else
    write_npy(out, cut.pixels, cut.width, cut.height);
  if (args.has("world")) print_placement_notes(image.header(), image.name());
}

}  // namespace

const CommandDef &slice_command() {
  static const CommandDef command{
      "slice",
      "IMAGE -o OUT.png|.npy",
      "one plane, or a cut under any 4x4 transform",
      "IMAGE -o OUT (--axial K | --coronal J | --sagittal I | --transform M) [options]",
      "Cuts one 2-D image out of the volume and writes it as an 8-bit PNG picture or as a\n"
      ".npy array of the exact doubles (array[i-1, j-1] is pixel (i, j)). Pictures are drawn\n"
      "with the second axis pointing up and, for images whose qform or sform places them in\n"
      "the world, the letters L/R, A/P and S/I on the edges the picture's axes run to.\n"
      "A plane is given by its number (fractions are interpolated with the kernel) or 'mid'.\n",
      {{"axial", "K", "plane z = K (1-based, or mid), pixels along x and y"},
       {"coronal", "J", "plane y = J, pixels along x and z"},
       {"sagittal", "I", "plane x = I, pixels along y and z"},
       {"world", nullptr,
        "cut the plane in world orientation instead, through the voxel-to-world\n"
        "matrix: axial pixels along world x and y, coronal x and z, sagittal\n"
        "y and z, square pixels of the smallest voxel size over the image's\n"
        "extent; K, J, I are then world z, y, x in mm (or mid)"},
       {"transform", "M",
        "16 numbers, a 4x4 matrix row by row, taking pixel (i, j, 0, 1)\n"
        "to 1-based voxel coordinates"},
       {"size", "WxH",
        "picture size: a plane is zoomed to fit it, centred (default: the\n"
        "plane's own size); for --transform the pixels cut (default x by y)"},
       {"hold", "N", "interpolation, a code or a name (default linear; nearest with --labels)"},
       kBackgroundOption,
       {"window", "LO,HI",
        "grey levels from LO (black) to HI (white); default: the 1st to\n"
        "99th percentile of the image"},
       {"labels", nullptr,
        "colour a label image: each integer label its own fixed colour\n"
        "(the same in every picture), 0 black"},
       {"no-letters", nullptr, "no orientation letters"},
       kVolumeOption,
       kThreadsOption,
       {"large-output", nullptr,
        "cut an image larger than half the memory (or a .npy larger than the\n"
        "free space of its file system), which is otherwise refused"},
       {"output", "OUT", "the output file, ending in .png or .npy", 'o'}},
      run_slice};
  return command;
}

}  // namespace vacli
