// volaccess reslice: a source image resampled onto a reference's grid, or
// onto a grid of its own at new voxel sizes.
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "errors.h"
#include "fault_guard.h"
#include "notes.h"
#include "progress.h"
#include "reslice_request.h"
#include "text_numbers.h"
#include "thread_count.h"
#include "zarr_handover.h"

namespace vacli {

namespace {

// In the order of ResliceArgument.
constexpr const char *kOptionNames[] = {"--like",   "--voxel-size", "--shape",    "--transform",   "--fsl",
                                        "--affine", "--background", "--datatype", "--large-output"};

static_assert(std::size(kOptionNames) == vaeng::kResliceArguments);

std::string option_name(ResliceArgument argument) { return kOptionNames[static_cast<int>(argument)]; }

std::string option_with_value(ResliceArgument argument, const std::string &value) {
  return option_name(argument) + " " + value;
}

// One size for all three axes, or three separated by commas; what is no
// number is no positive size either, which the engine refuses.
Vec3 voxel_size_option(const std::string &text) {
  const std::vector<std::string> f = split_fields(text);
  if (f.size() != 1 && f.size() != 3)
    throw ArgumentError("--voxel-size: " + quoted(text) + " is not one size in mm or three (X,Y,Z)");
  Vec3 size{};
  for (std::size_t a = 0; a < 3; ++a) size[a] = to_double(f[f.size() == 1 ? 0 : a]).value_or(std::nan(""));
  return size;
}

std::array<int64_t, 3> shape_option(const std::string &text) {
  const std::vector<std::string> f = split_fields(text);
  if (f.size() != 3) throw ArgumentError("--shape: " + quoted(text) + " is not three voxel counts NX,NY,NZ");
  std::array<int64_t, 3> shape{};
  for (std::size_t a = 0; a < 3; ++a)
    shape[a] = parse_integer("shape", f[a], std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
  return shape;
}

// The matrix options name files, read by the engine.
MatrixArgument matrix_option(const Arguments &args, const std::string &name) {
  return MatrixArgument{args.value(name).value_or(""), std::nullopt};
}

// The request the options make, and the program's words for them.
ResliceRequest request_of(const Arguments &args, ArgumentWords *words) {
  ResliceRequest r;
  r.like = args.value("like").value_or("");
  if (const std::optional<std::string> size = args.value("voxel-size")) {
    r.voxel_size = voxel_size_option(*size);
    words->written[ResliceArgument::kVoxelSize] = quoted(*size);
  }
  if (const std::optional<std::string> shape = args.value("shape")) {
    r.shape = shape_option(*shape);
    words->written[ResliceArgument::kShape] = quoted(*shape);
  }
  for (const std::string &text : args.values("transform")) r.transforms.push_back(parse_transform_option(text));
  r.fsl = matrix_option(args, "fsl");
  r.affine = matrix_option(args, "affine");
  ResliceOptions &o = r.options;
  o.hold = hold_or_label_option(args);
  o.background = background_option(args);
  o.datatype = args.value("datatype").value_or("");
  o.volume = args.has("volume") ? volume_option(args) : 0;
  o.clip = args.has("clip");
  o.mask_path = args.value("mask").value_or("");
  o.progress = progress_bars(!args.has("quiet") && stderr_is_terminal());
  o.threads = thread_count(args.value("threads"));
  r.large_output = args.has("large-output");
  return r;
}

void run_reslice(const Arguments &args) {
  const std::string source_path = args.only_positional("a SOURCE image");
  const std::string out = required_option(args, "output");
  if (wants_distributed_reslice(args, source_path, out)) hand_over_reslice(args);
  NiftiFileSink sink(scaling_words(out));
  ArgumentWords words{"'reslice'", " (see 'volaccess reslice --help')", option_name, option_with_value, {}};
  const ResliceRequest request = request_of(args, &words);
  check_request(request, words);

  const NiftiImage source = open_reslice_source(source_path, request);
  const FaultGuard guard(source.name());
  const ResliceResult result = run_reslice(request, source, words, sink);
  if (args.has("quiet")) return;
  const std::string type = resliced_datatype(request.options);
  print_note(storing_note(result.stored, type == "source" ? source.header().datatype->name : type,
                          request.options.background, out));
  print_note(integer_source_note(source.header(), request.options.hold, source.name()));
  print_placement_notes(source.header(), source.name());
  if (!request.like.empty()) print_placement_notes(result.grid, request.like);
}

}  // namespace

const CommandDef &reslice_command() {
  static const CommandDef command{
      "reslice",
      "SOURCE (--like REF | --voxel-size MM) -o OUT.nii[.gz]|.mgz|.nrrd|.nhdr|.mha|.mhd|OUT.zarr",
      "resample SOURCE onto the grid of REF, or onto new voxel sizes",
      "SOURCE (--like REFERENCE | --voxel-size MM [--shape NX,NY,NZ]) -o OUT.nii[.gz] [options]\n"
      "       volaccess reslice SOURCE --like REFERENCE -o OUT.zarr [--scheduler ADDRESS|local]\n"
      "                         [--chunks N] [options]",
      "Resamples SOURCE onto the grid of REFERENCE (its dimensions and voxel-to-world\n"
      "matrix), or onto a grid of new voxel sizes on the source's own orientation and field\n"
      "of view, through the transforms a registration wrote. The output keeps the grid's\n"
      "qform and sform with their codes and its space units; a 4-D source becomes a 4-D\n"
      "output with its time step, time units and intent. An integer output\n"
      "gets a scale and offset that hold the whole range of its values and store the\n"
      "background exactly (an integer source's own when they do), found by computing the\n"
      "output twice; with --datatype source the source's scaling is kept whenever it\n"
      "stores the background, and values beyond the type's range are clamped.\n"
      "A .zarr source or output, or --scheduler, hands the command to the Python package's\n"
      "volaccess.distributed: tasks of whole output chunks on a Dask cluster, reading only the\n"
      "source chunks each needs, into a new OME-Zarr pyramid whose level 0 has the same values.\n",
      {{"like", "REFERENCE", "the image whose grid the output takes (only its header is read)"},
       {"voxel-size", "MM",
        "instead of --like: voxels of MM millimetres (one size, or three as\n"
        "X,Y,Z) along the source's axes, covering its field of view"},
       {"shape", "NX,NY,NZ", "with --voxel-size: exactly this many voxels, centred on the source"},
       {"transform", "FILE",
        "a transform from output points to source points, repeatable; the\n"
        "one given last is applied first. Recognised by content: ITK transform\n"
        "text files, .mat files (MATLAB level 4), displacement fields (NIfTI\n"
        "vector images, millimetres in LPS). FILE,inverse inverts an affine file",
        0, true},
       {"fsl", "FILE", "a FLIRT matrix from SOURCE to REFERENCE (scaled-voxel coordinates)"},
       {"affine", "FILE",
        "a 4x4 world-space affine (four lines of four numbers) applied to\n"
        "the source first: the output at world point w shows the source at\n"
        "inverse(affine) * w"},
       {"hold", "N",
        "interpolation, a code or a name (default linear); 'label' gives\n"
        "each voxel the label with the largest summed trilinear weight among\n"
        "its eight neighbours (ties to the smaller label), so no label is\n"
        "invented; an unscaled integer source (mostly label maps) with a\n"
        "kernel that blends voxels draws a note"},
       {"clip", nullptr, "clamp each value to the range of the source voxels its kernel read"},
       {"mask", "MASK", "output voxels where MASK (on the output grid) is 0 get the background"},
       {"background", "V", "value outside the source (default 0; 'nan' accepted)"},
       {"datatype", "TYPE",
        "int8, uint8, int16, uint16, int32, uint32, float32 (default),\n"
        "float64, or source (the source's type; the default for labels);\n"
        "integer values are rounded to nearest"},
       {"volume", "T", "only volume T of a 4-D source, from 1 (default: every volume)"},
       {"quiet", nullptr,
        "no progress bar (it is drawn only when stderr is a terminal) and\n"
        "no notes"},
       kThreadsOption,
       {"scheduler", "ADDR",
        "a Dask scheduler to reslice on (tcp://host:8786), or 'local' for one on\n"
        "this machine, through the Python package's volaccess.distributed\n"
        "(as a .zarr source or output does): $VOLACCESS_PYTHON, else python3"},
       {"chunks", "N", "with a .zarr output or --scheduler: chunks of N voxels, or X,Y,Z (default 128)"},
       {"large-output", nullptr,
        "write an output larger than the free space of its file system (or, for\n"
        ".nii.gz, than half the memory), which is otherwise refused before any of it\n"
        "is computed"},
       {"level", "N",
        "with an OME-Zarr source: the pyramid level to read, from 0 (default\n"
        "auto: the coarsest whose voxels are no larger than the output's)"},
       {"levels", "N", "with a .zarr output: N pyramid levels, each halved (default auto: down to 256)"},
       {"output", "OUT",
        "the output file, ending in .nii, .nii.gz, .mgh, .mgz, .nrrd, .nhdr, .mha or .mhd, or a new .zarr store", 'o'}},
      run_reslice};
  return command;
}

}  // namespace vacli
