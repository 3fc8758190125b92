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

}  // namespace

void command_sample(const Words &words) {
  const Arguments args("sample", words,
                       {{"points", true}, {"coords", true}, {"hold", true}, {"background", true},
                        {"gradient", false}, {"volume", true}});
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

}  // namespace vacli
