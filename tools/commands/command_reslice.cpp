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

void run_reslice(const Arguments &args) {
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

}  // namespace

const CommandDef &reslice_command() {
  static const CommandDef command{
      "reslice",
      "SOURCE --like REF -o OUT.nii[.gz]",
      "resample SOURCE onto the grid of REF",
      "SOURCE --like REFERENCE -o OUT.nii[.gz] [options]",
      "Resamples SOURCE onto the grid of REFERENCE (its dimensions and voxel-to-world\n"
      "matrix), plane by plane. The output carries the reference's geometry.\n",
      {{"like", "REFERENCE", "the image whose grid the output takes (only its header is read)"},
       {"affine", "FILE",
        "a 4x4 world-space affine (four lines of four numbers) applied to\n"
        "the source first: the output at world point w shows the source at\n"
        "inverse(affine) * w"},
       {"hold", "N", "interpolation (default 1, trilinear)"},
       {"background", "V", "value outside the source (default 0; 'nan' accepted)"},
       {"datatype", "TYPE",
        "float32 (default), float64, or source: the source's type and\n"
        "scaling, values rounded to nearest and clamped to the type's range"},
       {"volume", "T", "volume of a 4-D source, from 1 (default 1)"},
       {"quiet", nullptr, "no progress bar (it is drawn only when stderr is a terminal)"},
       {"output", "OUT", "the output file, ending in .nii or .nii.gz", 'o'}},
      run_reslice};
  return command;
}

}  // namespace vacli
