// volaccess sample: values (and gradients) at points read from text.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "errors.h"
#include "notes.h"
#include "sampling.h"
#include "text_numbers.h"
#include "thread_count.h"

namespace vacli {

namespace {

PointFrame frame_option(const Arguments &args) {
  const std::string frame = args.value("coords").value_or("voxel1");
  if (frame == "voxel1") return PointFrame::Voxel1;
  if (frame == "voxel0") return PointFrame::Voxel0;
  if (frame == "world") return PointFrame::World;
  throw ArgumentError("--coords: " + quoted(frame) + " is none of voxel1, voxel0, world");
}

// One volume when --volume names it or the image has only one; else every
// volume, each a column of the output. Destroyed newest first, since the
// fault guards of mapped volumes nest.
class SampledVolumes {
 public:
  SampledVolumes(const NiftiImage &image, std::optional<int64_t> volume) {
    if (volume || image.header().volumes == 1) {
      add(image, volume.value_or(1));
      return;
    }
    for (int64_t t = 1; t <= image.header().volumes; ++t) add(image, t);
  }
  ~SampledVolumes() {
    while (!owned_.empty()) owned_.pop_back();
  }
  SampledVolumes(const SampledVolumes &) = delete;
  SampledVolumes &operator=(const SampledVolumes &) = delete;

  const std::vector<const MappedVolume *> &all() const { return views_; }

 private:
  void add(const NiftiImage &image, int64_t volume) {
    owned_.push_back(std::make_unique<MappedVolume>(image, volume));
    views_.push_back(owned_.back().get());
  }

  std::vector<std::unique_ptr<MappedVolume>> owned_;
  std::vector<const MappedVolume *> views_;
};

void run_sample(const Arguments &args) {
  const std::string path = args.only_positional("an IMAGE");
  SampleOptions options;
  options.frame = frame_option(args);
  options.frame_given = args.has("coords");
  options.lps = args.has("lps");
  if (options.lps && options.frame != PointFrame::World)
    throw ArgumentError("--lps describes world points: give it with --coords world");
  options.hold = hold_or_label_option(args);
  options.background = background_option(args);
  options.gradient = args.has("gradient");
  if (options.gradient && options.hold == kLabelHold) throw ArgumentError("--gradient: labels have no derivatives");
  options.echo = args.has("echo");
  std::optional<int64_t> volume;
  if (args.has("volume")) volume = volume_option(args);
  const std::string points = args.value("points").value_or("-");
  options.table = ends_with(points, ".csv") || ends_with(points, ".CSV");
  if (options.table && options.echo) throw ArgumentError("--echo: a table's rows are printed whole already");
  const Workers workers(thread_count(args.value("threads")));

  const NiftiImage image = NiftiImage::open(path, volume.value_or(0));
  const SampledVolumes volumes(image, volume);
  LineReader input(points);
  const SampleCount count = sample_points(volumes.all(), input, options, workers, stdout);
  if (options.frame == PointFrame::World) print_placement_notes(image.header(), image.name());
  print_note(outside_note(count, options, image.name()));
}

}  // namespace

const CommandDef &sample_command() {
  static const CommandDef command{
      "sample",
      "IMAGE [--points FILE]",
      "values (and gradients) at points read from a file or stdin",
      "IMAGE [--points FILE] [options]",
      "Reads one point a line (three numbers separated by blanks or commas; blank lines and\n"
      "lines starting with '#' are skipped) and prints one line per point: the value, or with\n"
      "--gradient the value and its derivatives along x, y and z (per voxel); for a 4-D image\n"
      "without --volume, one such column (or four) per volume. Numbers are printed with 17\n"
      "significant digits, so they read back to the same double. Points outside the image\n"
      "take the background and are counted on standard error.\n"
      "A FILE ending in .csv is a table with a header row: the columns named x, y and z (in\n"
      "any case) are the point, and the table is printed back with a column 'value' (and\n"
      "'dx', 'dy', 'dz' with --gradient; numbered _1, _2, ... per volume) appended.\n",
      {{"points", "FILE", "the points; '-' or no option reads standard input"},
       {"coords", "FRAME",
        "voxel1 (default: 1-based voxel coordinates), voxel0 (0-based,\n"
        "as in the header), or world (mm, through the voxel-to-world matrix)"},
       {"lps", nullptr,
        "world points are in LPS (x left, y back), as ITK and ANTs write\n"
        "them; NIfTI's world is RAS"},
       {"echo", nullptr, "start each line with the point's three numbers as read"},
       {"hold", "N", "interpolation, a code or a name (default linear), or label as in reslice"},
       kBackgroundOption,
       {"gradient", nullptr, "also print the three derivatives"},
       {"volume", "T", "volume of a 4-D image, from 1 (default: every volume)"},
       kThreadsOption},
      run_sample};
  return command;
}

}  // namespace vacli
