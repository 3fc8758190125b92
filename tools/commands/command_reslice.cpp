// volaccess reslice: a source image resampled onto a reference's grid.
#include <string>

#include "arguments.h"
#include "cli_error.h"
#include "commands.h"
#include "progress.h"
#include "reslicing.h"
#include "text_numbers.h"

namespace vacli {

namespace {

OutputType type_option(const Arguments &args) {
  const std::string type = args.value("datatype").value_or("float32");
  if (type == "float32") return OutputType::Float32;
  if (type == "float64") return OutputType::Float64;
  if (type == "source") return OutputType::Source;
  throw UsageError("--datatype: '" + type + "' is none of float32, float64, source");
}

}  // namespace

void command_reslice(const Words &words) {
  const Arguments args("reslice", words,
                       {{"like", true}, {"affine", true}, {"hold", true}, {"background", true},
                        {"datatype", true}, {"volume", true}, {"quiet", false}, {"output", true, 'o'}});
  const std::string source_path = args.only_positional("a SOURCE image");
  const std::string reference_path = required_option(args, "like");
  const std::string out = required_option(args, "output");
  if (!ends_with(out, ".nii") && !ends_with(out, ".nii.gz"))
    throw UsageError(out + ": the output must end in .nii or .nii.gz");
  ResliceOptions options;
  options.hold = hold_option(args);
  options.background = background_option(args);
  options.type = type_option(args);
  options.progress = !args.has("quiet") && stderr_is_terminal();
  if (const std::optional<std::string> affine = args.value("affine")) {
    options.affine = read_affine_file(*affine);
    options.affine_name = *affine;
  }
  const int64_t volume = volume_option(args);

  const NiftiHeader reference = NiftiImage::read_header(reference_path);
  const NiftiImage source = NiftiImage::open(source_path);
  const MappedVolume mapped(source, volume);
  reslice(mapped, source.header(), reference, options, out);
}

}  // namespace vacli
