#include "zarr_handover.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "errors.h"
#include "text_numbers.h"

namespace vacli {

namespace {

bool names_zarr(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return ends_with(path, ".zarr");
}

std::string real_text(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// Run by `python -c`: names VOLACCESS_PYTHON when the package is not
// there, where `python -m` would only say which module is missing.
const char *const kBootstrap =
    "import sys\n"
    "try:\n"
    "    from volaccess.distributed import __main__ as m\n"
    "except ImportError as e:\n"
    "    sys.exit(f'volaccess: {sys.executable} cannot import the volaccess package ({e}); set VOLACCESS_PYTHON to "
    "the python of an environment that has it')\n"
    "sys.exit(m.main(sys.argv[1:]))\n";

}  // namespace

bool wants_distributed_reslice(const Arguments &args, const std::string &source, const std::string &out) {
  return names_zarr(source) || names_zarr(out) || args.has("scheduler") || args.has("chunks") || args.has("level") ||
         args.has("levels");
}

std::vector<std::string> distributed_reslice_command(const Arguments &args, const std::string &python) {
  const std::string out = required_option(args, "output");
  if (!names_zarr(out))
    throw ArgumentError("-o " + out +
                        ": a .zarr or --scheduler reslice writes an OME-Zarr store: name the output .zarr (a NIfTI "
                        "output of a NIfTI source is written here without --scheduler and --chunks)");
  for (const char *option : {"voxel-size", "shape", "volume", "threads", "transform", "fsl", "clip", "mask"})
    if (args.has(option))
      throw ArgumentError(std::string("--") + option + " does not apply to a .zarr or --scheduler reslice");
  const int32_t hold = hold_or_label_option(args);
  const bool labels = hold == kLabelHold;
  // Labels keep the source's type unless told otherwise, as here.
  const std::string type = args.value("datatype").value_or(labels ? "source" : "float32");
  if (type != "float32" && type != "float64" && type != "source")
    throw ArgumentError("--datatype " + type + ": a .zarr or --scheduler reslice writes float32, float64 or source");
  std::vector<std::string> command{python,
                                   "-c",
                                   kBootstrap,
                                   "reslice",
                                   args.only_positional("a SOURCE image"),
                                   "--like",
                                   required_option(args, "like"),
                                   "-o",
                                   out,
                                   "--hold",
                                   labels ? "label" : std::to_string(hold),
                                   "--background",
                                   real_text(background_option(args)),
                                   "--datatype",
                                   type,
                                   "--scheduler",
                                   args.value("scheduler").value_or("local")};
  for (const char *option : {"chunks", "level", "levels"})
    if (const auto value = args.value(option)) command.insert(command.end(), {std::string("--") + option, *value});
  if (const auto affine = args.value("affine")) command.insert(command.end(), {"--affine", *affine});
  if (args.has("quiet")) command.emplace_back("--quiet");
  if (args.has("large-output")) command.emplace_back("--large-output");
  return command;
}

void hand_over_reslice(const Arguments &args) {
  const char *chosen = std::getenv("VOLACCESS_PYTHON");
  const std::string python = chosen && *chosen ? chosen : "python3";
  const std::vector<std::string> command = distributed_reslice_command(args, python);
  std::vector<char *> argv;
  for (const std::string &word : command) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  execvp(argv[0], argv.data());
  fail(python, "cannot start it for a .zarr or --scheduler reslice (" + system_reason(errno) +
                   "); set VOLACCESS_PYTHON to the python of an environment with the volaccess package");
}

}  // namespace vacli
