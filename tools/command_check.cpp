// volaccess check: a picture for judging a registration, an image drawn on
// the grid of its reference with the reference's edges over it.
#include <limits>
#include <optional>
#include <string>

#include "arguments.h"
#include "check_picture.h"
#include "commands.h"
#include "errors.h"
#include "notes.h"
#include "text_numbers.h"
#include "thread_count.h"

namespace vacli {

namespace {

// Each of the comma- or blank-separated fields of `text`, parsed.
template <class Parse>
auto list_option(const std::string &text, Parse parse) {
  std::vector<decltype(parse(text))> items;
  for (const std::string &field : split_fields(text)) items.push_back(parse(field));
  return items;
}

Plane plane_option(const std::string &name) {
  const std::optional<Plane> plane = plane_named(name);
  if (!plane) throw ArgumentError("--planes: " + quoted(name) + " is not axial, coronal or sagittal");
  return *plane;
}

double position_option(const std::string &field) {
  const std::optional<double> p = to_double(field);
  if (!p) throw ArgumentError("--positions: " + quoted(field) + " is not a number");
  return *p;
}

LabelSide labels_option(const std::string &text) {
  if (text == "image") return LabelSide::Image;
  if (text == "ref") return LabelSide::Reference;
  throw ArgumentError("--labels: " + quoted(text) + " is neither 'image' nor 'ref'");
}

// Every option checked before any file is opened.
CheckRequest check_request(const Arguments &args) {
  CheckRequest r;
  if (const std::optional<std::string> v = args.value("planes")) r.planes = list_option(*v, plane_option);
  if (const std::optional<std::string> v = args.value("positions")) r.positions = list_option(*v, position_option);
  if (const std::optional<std::string> v = args.value("size")) {
    const std::pair<int32_t, int32_t> wh = parse_size(*v);
    r.size = {wh.first, wh.second};
  }
  r.window = window_option(args);
  if (const std::optional<std::string> v = args.value("checkerboard"))
    r.checkerboard = static_cast<int32_t>(parse_integer("checkerboard", *v, 1, std::numeric_limits<int32_t>::max()));
  if (const std::optional<std::string> v = args.value("labels")) r.labels = labels_option(*v);
  r.hold = hold_option(args);
  if (const std::optional<std::string> v = args.value("edges")) r.edges = parse_real("edges", *v);
  if (const std::optional<RequestProblem> problem = check_request_problem(r))
    throw ArgumentError("--" + problem->field + ": " + problem->reason);
  return r;
}

void run_check(const Arguments &args) {
  if (args.positional().size() != 2) throw ArgumentError("'check' needs an IMAGE and a REF");
  const std::string out = required_option(args, "output");
  if (!ends_with(out, ".png") && !ends_with(out, ".PNG")) throw ArgumentError(out + ": the output must end in .png");
  CheckRequest request = check_request(args);
  const int64_t volume = volume_option(args);
  const Workers workers(thread_count(args.value("threads")));

  const NiftiImage image = NiftiImage::open(args.positional()[0], volume);
  const MappedVolume image_volume(image, volume);
  const NiftiImage ref = NiftiImage::open(args.positional()[1], 1);
  const MappedVolume ref_volume(ref, 1);
  request.letters = ref.header().geometry.qform_code != 0 || ref.header().geometry.sform_code != 0;
  write_picture(out, check_picture(image_volume, ref_volume, request, workers));
  print_placement_notes(image.header(), image.name());
  if (ref.name() != image.name()) print_placement_notes(ref.header(), ref.name());
}

}  // namespace

const CommandDef &check_command() {
  static const CommandDef command{
      "check",
      "IMAGE REF -o OUT.png",
      "a picture for judging a registration",
      "IMAGE REF -o OUT.png [options]",
      "Draws IMAGE in world orientation over the field of view of REF, the reference it\n"
      "should now lie on: a mosaic of panels, one row per plane and one column per\n"
      "position, each under its position along the plane's normal in mm, with REF's edges\n"
      "drawn over IMAGE in magenta and the letters L/R, A/P, S/I on the panels' edges.\n"
      "Panels are 4 black pixels apart, each under a caption strip of 10 pixels per 96\n"
      "pixels of its shorter side. REF's edges are found on REF resampled to the panel's\n"
      "pixels with the Lagrange cubic: a pixel is an edge where the gradient's magnitude\n"
      "reaches --edges times REF's range (its 1st to 99th percentile over the\n"
      "mosaic) per voxel (per pixel where pixels are larger than voxels) and peaks across\n"
      "the edge, so edges are one pixel wide and a one-voxel shift shows.\n",
      {{"planes", "LIST", "the rows, from the top: axial, coronal, sagittal\n(default all three)"},
       {"positions", "LIST",
        "the columns: each plane's position in percent of REF's world\n"
        "extent along its normal (default 25,50,75)"},
       {"size", "WxH", "pixels of each panel, the plane zoomed to fit (default 192x192)"},
       {"window", "LO,HI",
        "grey levels of IMAGE (of REF with --labels image) from LO\n"
        "(black) to HI (white); default: its 1st to 99th percentile"},
       {"checkerboard", "N",
        "alternate IMAGE and REF in N squares along a panel's longer\n"
        "side; REF's squares take REF's own 1st to 99th percentile"},
       {"labels", "SIDE",
        "'image' or 'ref': that image holds labels, drawn as outlines in\n"
        "each label's colour (nearest neighbour) over the other in grey"},
       {"edges", "F",
        "the fraction of REF's range per voxel that makes an edge, above\n"
        "0, at most 1 (default 0.2)"},
       {"hold", "N", "interpolation of the grey images, a code or a name\n(default linear)"},
       kVolumeOption,
       kThreadsOption,
       {"output", "OUT", "the picture, ending in .png", 'o'}},
      run_check};
  return command;
}

}  // namespace vacli
