#include "commands.h"

#include <cstdio>
#include <new>

#include "cli_error.h"

namespace vacli {

namespace {

struct Command {
  const char *name;
  void (*run)(const Words &);
  const char *help;
};

const char kOverview[] =
    "volaccess: sample, slice and reslice NIfTI-1 and NIfTI-2 images (.nii, .nii.gz, .hdr/.img)\n"
    "\n"
    "usage: volaccess COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  info IMAGE                     dimensions, datatype, voxel sizes, scaling, matrix, file\n"
    "  sample IMAGE [--points FILE]   values (and gradients) at points read from a file or stdin\n"
    "  slice IMAGE -o OUT.png|.npy    one plane, or a cut under any 4x4 transform\n"
    "  reslice SOURCE --like REF -o OUT.nii[.gz]\n"
    "                                 resample SOURCE onto the grid of REF\n"
    "  demo [--out DIR]               a phantom, resliced under a rotation, with pictures\n"
    "\n"
    "'volaccess COMMAND --help' describes a command and its options.\n"
    "\n"
    "Interpolation (--hold N): 0 nearest neighbour, 1 trilinear (default), 2..170 Lagrange\n"
    "polynomial through N+1 nodes per axis, -1..-254 Hann-windowed sinc over 1-N nodes.\n"
    "Voxel coordinates count from 1: (1, 1, 1) is the centre of the first voxel.\n";

const char kInfoHelp[] =
    "usage: volaccess info IMAGE [--volume T]\n"
    "\n"
    "Prints the dimensions, the datatype and byte order, the voxel sizes, the scale and\n"
    "offset of the voxel values, the 4x4 voxel-to-world matrix (for 1-based voxel\n"
    "coordinates) and where the voxels lie: the file and the byte position of volume T.\n"
    "\n"
    "  --volume T      volume of a 4-D image, from 1 (default 1)\n";

const char kSampleHelp[] =
    "usage: volaccess sample IMAGE [--points FILE] [options]\n"
    "\n"
    "Reads one point a line (three numbers separated by blanks or commas; blank lines and\n"
    "lines starting with '#' are skipped) and prints one line per point: the value, or with\n"
    "--gradient the value and its derivatives along x, y and z (per voxel). Numbers are\n"
    "printed with 17 significant digits, so they read back to the same double.\n"
    "\n"
    "  --points FILE      the points; '-' or no option reads standard input\n"
    "  --coords FRAME     voxel1 (default: 1-based voxel coordinates), voxel0 (0-based,\n"
    "                     as in the header), or world (through the voxel-to-world matrix)\n"
    "  --hold N           interpolation (default 1, trilinear)\n"
    "  --background V     value outside the volume (default 0; 'nan' accepted)\n"
    "  --gradient         also print the three derivatives\n"
    "  --volume T         volume of a 4-D image, from 1 (default 1)\n";

const char kSliceHelp[] =
    "usage: volaccess slice IMAGE -o OUT (--axial K | --coronal J | --sagittal I | --transform M) [options]\n"
    "\n"
    "Cuts one 2-D image out of the volume and writes it as an 8-bit grey PNG picture or as a\n"
    ".npy array of the exact doubles (array[i-1, j-1] is pixel (i, j)). Pictures are drawn\n"
    "with the second axis pointing up.\n"
    "\n"
    "  --axial K          plane z = K (1-based), pixels along x and y\n"
    "  --coronal J        plane y = J, pixels along x and z\n"
    "  --sagittal I       plane x = I, pixels along y and z\n"
    "  --transform M      16 numbers, a 4x4 matrix row by row, taking pixel (i, j, 0, 1)\n"
    "                     to 1-based voxel coordinates\n"
    "  --size WxH         image size (default: the plane's own size; for --transform, x by y)\n"
    "  --hold N           interpolation (default 1, trilinear)\n"
    "  --background V     value outside the volume (default 0; 'nan' accepted)\n"
    "  --window LO,HI     grey levels from LO (black) to HI (white); default: the 1st to\n"
    "                     99th percentile of the image\n"
    "  --volume T         volume of a 4-D image, from 1 (default 1)\n"
    "  -o, --output OUT   the output file, ending in .png or .npy\n";

const char kResliceHelp[] =
    "usage: volaccess reslice SOURCE --like REFERENCE -o OUT.nii[.gz] [options]\n"
    "\n"
    "Resamples SOURCE onto the grid of REFERENCE (its dimensions and voxel-to-world\n"
    "matrix), plane by plane. The output carries the reference's geometry.\n"
    "\n"
    "  --like REFERENCE   the image whose grid the output takes (only its header is read)\n"
    "  --affine FILE      a 4x4 world-space affine (four lines of four numbers) applied to\n"
    "                     the source first: the output at world point w shows the source at\n"
    "                     inverse(affine) * w\n"
    "  --hold N           interpolation (default 1, trilinear)\n"
    "  --background V     value outside the source (default 0; 'nan' accepted)\n"
    "  --datatype TYPE    float32 (default), float64, or source: the source's type and\n"
    "                     scaling, values rounded to nearest and clamped to the type's range\n"
    "  --volume T         volume of a 4-D source, from 1 (default 1)\n"
    "  --quiet            no progress bar (it is drawn only when stderr is a terminal)\n"
    "  -o, --output OUT   the output file, ending in .nii or .nii.gz\n";

const char kDemoHelp[] =
    "usage: volaccess demo [--out DIR]\n"
    "\n"
    "Synthesises a 3-D phantom with an oblique voxel-to-world matrix and scaled int16\n"
    "voxels, writes it as NIfTI, reslices it under a rotation with windowed-sinc\n"
    "interpolation, and draws axial, coronal and sagittal slices of both as PNG pictures.\n"
    "\n"
    "  --out DIR          the folder for the results (default: volaccess-demo)\n";

const Command kCommands[] = {
    {"info", command_info, kInfoHelp},          {"sample", command_sample, kSampleHelp},
    {"slice", command_slice, kSliceHelp},       {"reslice", command_reslice, kResliceHelp},
    {"demo", command_demo, kDemoHelp},
};

const Command *find_command(const std::string &name) {
  for (const Command &c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void report(const char *text) { std::fprintf(stderr, "volaccess: %s\n", text); }

}  // namespace

std::string program_help() { return kOverview; }

std::string command_help(const std::string &command) {
  const Command *c = find_command(command);
  return c ? c->help : "";
}

bool wants_help(const Words &words) {
  for (const std::string &w : words) {
    if (w == "--") return false;
    if (w == "-h" || w == "--help") return true;
  }
  return false;
}

int run_program(int argc, char **argv) {
  const Words all(argv + 1, argv + argc);
  try {
    if (all.empty() || all[0] == "-h" || all[0] == "--help" || all[0] == "help") {
      std::fputs(kOverview, all.empty() ? stderr : stdout);
      return all.empty() ? 2 : 0;
    }
    const Command *command = find_command(all[0]);
    if (!command) throw UsageError("unknown command '" + all[0] + "' (see 'volaccess --help')");
    const Words words(all.begin() + 1, all.end());
    if (wants_help(words)) {
      std::fputs(command->help, stdout);
      return 0;
    }
    command->run(words);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw CliError("standard output: write error");
    return 0;
  } catch (const UsageError &e) {
    report(e.what());
    return 2;
  } catch (const CliError &e) {
    report(e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    report("out of memory");
    return 1;
  }
}

}  // namespace vacli
