// volaccess sample: values (and gradients) at points read from text.
#include <cstdio>
#include <string>

#include "arguments.h"
#include "cli_error.h"
#include "commands.h"
#include "sampling.h"

namespace vacli {

namespace {

PointFrame frame_option(const Arguments &args) {
  const std::string frame = args.value("coords").value_or("voxel1");
  if (frame == "voxel1") return PointFrame::Voxel1;
  if (frame == "voxel0") return PointFrame::Voxel0;
  if (frame == "world") return PointFrame::World;
  throw UsageError("--coords: '" + frame + "' is none of voxel1, voxel0, world");
}

void run_sample(const Arguments &args) {
  const std::string path = args.only_positional("an IMAGE");
  SampleOptions options;
  options.frame = frame_option(args);
  options.hold = hold_option(args);
  options.background = background_option(args);
  options.gradient = args.has("gradient");
  const int64_t volume = volume_option(args);
  const std::string points = args.value("points").value_or("-");

  const NiftiImage image = NiftiImage::open(path);
  const MappedVolume mapped(image, volume);
  LineReader input(points);
  sample_points(mapped, input, options, stdout);
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
      "--gradient the value and its derivatives along x, y and z (per voxel). Numbers are\n"
      "printed with 17 significant digits, so they read back to the same double.\n",
      {{"points", "FILE", "the points; '-' or no option reads standard input"},
       {"coords", "FRAME",
        "voxel1 (default: 1-based voxel coordinates), voxel0 (0-based,\n"
        "as in the header), or world (through the voxel-to-world matrix)"},
       {"hold", "N", "interpolation (default 1, trilinear)"},
       {"background", "V", "value outside the volume (default 0; 'nan' accepted)"},
       {"gradient", nullptr, "also print the three derivatives"},
       {"volume", "T", "volume of a 4-D image, from 1 (default 1)"}},
      run_sample};
  return command;
}

}  // namespace vacli
