// volaccess reslice: a source image resampled onto a reference's grid, or
// onto a grid of its own at new voxel sizes.
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "errors.h"
#include "fault_guard.h"
#include "notes.h"
#include "output_grid.h"
#include "progress.h"
#include "reslicing.h"
#include "text_numbers.h"
#include "thread_count.h"
#include "transforms.h"
#include "zarr_handover.h"

namespace vacli {

namespace {

// Labels keep the source's type unless another is asked for.
std::string type_option(const Arguments &args, int32_t hold) {
  const std::string type = args.value("datatype").value_or(hold == kLabelHold ? "source" : "float32");
  const std::string problem = output_datatype_problem(type);
  if (!problem.empty()) throw ArgumentError("--datatype: " + problem);
  return type;
}

// One positive size for all three axes, or three separated by commas.
Vec3 voxel_size_option(const std::string &text) {
  const std::vector<std::string> f = split_fields(text);
  Vec3 size{};
  if (f.size() != 1 && f.size() != 3)
    throw ArgumentError("--voxel-size: " + quoted(text) + " is not one size in mm or three (X,Y,Z)");
  for (std::size_t a = 0; a < 3; ++a) {
    const std::optional<double> v = to_double(f[f.size() == 1 ? 0 : a]);
    if (!v || !(*v > 0) || !std::isfinite(*v))
      throw ArgumentError("--voxel-size: " + quoted(text) + " holds a size that is not a positive number of mm");
    size[a] = *v;
  }
  return size;
}

std::array<int64_t, 3> shape_option(const std::string &text) {
  const std::vector<std::string> f = split_fields(text);
  if (f.size() != 3) throw ArgumentError("--shape: " + quoted(text) + " is not three voxel counts NX,NY,NZ");
  std::array<int64_t, 3> shape{};
  for (std::size_t a = 0; a < 3; ++a) shape[a] = parse_integer("shape", f[a], 1, std::numeric_limits<int32_t>::max());
  return shape;
}

// The grid of the output as the options say it, checked before any file
// is opened: a reference's, or new voxel sizes (and counts).
struct GridChoice {
  std::optional<std::string> like;
  Vec3 voxel_size{};
  std::optional<std::array<int64_t, 3>> counts;
};

GridChoice grid_choice(const Arguments &args) {
  const std::optional<std::string> like = args.value("like");
  const std::optional<std::string> size = args.value("voxel-size");
  const std::optional<std::string> shape = args.value("shape");
  if (like && (size || shape))
    throw ArgumentError("'reslice' takes either --like or --voxel-size (with --shape), not both");
  if (shape && !size) throw ArgumentError("--shape needs --voxel-size: the grid's voxel sizes in mm");
  GridChoice choice;
  choice.like = like;
  if (like) return choice;
  if (!size)
    throw ArgumentError("'reslice' needs --like REFERENCE or --voxel-size MM (see 'volaccess reslice --help')");
  choice.voxel_size = voxel_size_option(*size);
  if (shape) choice.counts = shape_option(*shape);
  return choice;
}

// The grid of the output: a reference's, or the source's own field of view
// at new voxel sizes.
NiftiHeader output_grid(const GridChoice &choice, const NiftiHeader &source, const std::string &source_name) {
  if (choice.like) return NiftiImage::read_header(*choice.like);
  return grid_from_source(source, source_name, choice.voxel_size, choice.counts);
}

// The steps from output world points to source world points that the
// options ask for: --transform files, a FLIRT matrix, or a world affine.
TransformChain chain_option(const Arguments &args, const NiftiHeader &source, const NiftiHeader &reference) {
  const int given = (args.has("transform") ? 1 : 0) + (args.has("fsl") ? 1 : 0) + (args.has("affine") ? 1 : 0);
  if (given > 1) throw ArgumentError("--transform, --fsl and --affine exclude one another: give one kind");
  if (args.has("transform")) {
    std::vector<TransformOption> options;
    for (const std::string &text : args.values("transform")) options.push_back(parse_transform_option(text));
    return TransformChain::from_options(options);
  }
  TransformChain chain;
  if (const std::optional<std::string> fsl = args.value("fsl")) {
    chain.then_affine(flirt_to_world(read_matrix_file(*fsl), source, reference, *fsl));
    chain.add_name(*fsl);
  } else if (const std::optional<std::string> affine = args.value("affine")) {
    // The affine moves the source onto the output, so points go back through its inverse.
    Mat4 inverse{};
    if (!invert(read_matrix_file(*affine), &inverse)) fail(*affine, "the affine is singular");
    chain.then_affine(inverse);
    chain.add_name(*affine);
  }
  return chain;
}

void run_reslice(const Arguments &args) {
  const std::string source_path = args.only_positional("a SOURCE image");
  const std::string out = required_option(args, "output");
  if (wants_distributed_reslice(args, source_path, out)) hand_over_reslice(args);
  if (!ends_with(out, ".nii") && !ends_with(out, ".nii.gz"))
    throw ArgumentError(out + ": the output must end in .nii or .nii.gz");
  ResliceOptions options;
  options.hold = hold_or_label_option(args);
  options.background = background_option(args);
  options.datatype = type_option(args, options.hold);
  options.volume = args.has("volume") ? volume_option(args) : 0;
  options.clip = args.has("clip");
  options.mask_path = args.value("mask").value_or("");
  const bool quiet = args.has("quiet");
  options.progress = progress_bars(!quiet && stderr_is_terminal());
  options.threads = thread_count(args.value("threads"));
  const GridChoice choice = grid_choice(args);

  // Only the chosen volume is decompressed; without --volume, every one.
  const NiftiImage source = NiftiImage::open(source_path, options.volume);
  const NiftiHeader grid = output_grid(choice, source.header(), source.name());
  const TransformChain chain = chain_option(args, source.header(), grid);
  const FaultGuard guard(source.name());
  reslice(source, grid, chain, options, out);
  if (quiet) return;
  print_note(integer_source_note(source.header(), options.hold, source.name()));
  print_note(unoriented_note(source.header(), source.name()));
  if (const std::optional<std::string> like = args.value("like")) print_note(unoriented_note(grid, *like));
}

}  // namespace

const CommandDef &reslice_command() {
  static const CommandDef command{
      "reslice",
      "SOURCE (--like REF | --voxel-size MM) -o OUT.nii[.gz]|OUT.zarr",
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
       {"level", "N",
        "with an OME-Zarr source: the pyramid level to read, from 0 (default\n"
        "auto: the coarsest whose voxels are no larger than the output's)"},
       {"levels", "N", "with a .zarr output: N pyramid levels, each halved (default auto: down to 256)"},
       {"output", "OUT", "the output file, ending in .nii or .nii.gz, or a new .zarr store", 'o'}},
      run_reslice};
  return command;
}

}  // namespace vacli
