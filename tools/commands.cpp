#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "errors.h"

namespace vacli {

namespace {

using Words = std::vector<std::string>;

// Where the descriptions start in the overview and in a command's help.
constexpr std::size_t kSummaryColumn = 33;
constexpr std::size_t kOptionHelpColumn = 21;

const CommandDef &(*const kCommands[])() = {info_command,    sample_command, slice_command,
                                            reslice_command, check_command,  demo_command};

const CommandDef *find_command(const std::string &name) {
  for (const auto command : kCommands)
    if (name == command().name) return &command();
  return nullptr;
}

// `text` after `label`, starting at `column` (on a line of its own when the
// label reaches it); each further line of `text` starts at `column` too.
std::string columns(const std::string &label, const std::string &text, std::size_t column) {
  std::string out = label;
  out += label.size() < column ? std::string(column - label.size(), ' ') : "\n" + std::string(column, ' ');
  for (char c : text) {
    out += c;
    if (c == '\n') out += std::string(column, ' ');
  }
  return out + '\n';
}

std::string option_label(const OptionDef &option) {
  std::string label = "  ";
  if (option.short_name) label += std::string("-") + option.short_name + ", ";
  label += std::string("--") + option.name;
  if (option.value) label += std::string(" ") + option.value;
  return label;
}

bool wants_help(const Words &words) {
  for (const std::string &w : words) {
    if (w == "--") return false;
    if (w == "-h" || w == "--help") return true;
  }
  return false;
}

void report(const char *text) { std::fprintf(stderr, "volaccess: %s\n", text); }

// What was written to standard output reached it, or the run fails: a
// closed or full output must not pass for success.
void flush_standard_output() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail_system("standard output", "cannot write", errno);
}

}  // namespace

std::string overview_text() {
  std::string text =
      "volaccess: sample, slice and reslice NIfTI-1 and NIfTI-2 images (.nii, .nii.gz, .hdr/.img),\n"
      "FreeSurfer MGH (.mgh, .mgz), NRRD (.nrrd, .nhdr) and MetaImage (.mha, .mhd) images\n"
      "\n"
      "usage: volaccess COMMAND [OPTIONS]\n"
      "\n"
      "commands:\n";
  for (const auto command : kCommands) {
    const CommandDef &c = command();
    text += columns(std::string("  ") + c.name + " " + c.synopsis, c.summary, kSummaryColumn);
  }
  return text +
         "\n"
         "'volaccess COMMAND --help' describes a command and its options.\n"
         "\n"
         "Interpolation (--hold N): 0 nearest neighbour, 1 trilinear (default), 2..170 Lagrange\n"
         "polynomial through N+1 nodes per axis, -1..-254 Hann-windowed sinc over 1-N nodes.\n"
         "Names: nearest (0), linear (1), cubic (3: the Lagrange cubic through 4 nodes, not\n"
         "the cubic B-spline other programs mean), sinc (-3). Above 170 the factorials in the\n"
         "Lagrange weights overflow a double, so those codes are refused.\n"
         "\n"
         "Edges, for a coordinate c on an axis of d voxels (1-based; elsewhere: the background):\n"
         "  nearest    0.5 <= c < d + 0.5, the whole outer voxel (with gradients: as Lagrange)\n"
         "  trilinear  0.95 <= c < d + 0.05, the edge value held 0.05 voxel past the outer centres\n"
         "  Lagrange   0.95 <= c <= d + 0.05; nodes beyond the edge are dropped and the weights\n"
         "             not renormalised, so within N/2 voxels of the edge a constant image gains\n"
         "             up to about 10% at N = 3 and 4\n"
         "  sinc       0.95 <= c <= d + 0.05; weights renormalised to sum 1\n"
         "Gradients of the Lagrange and sinc kernels are differences over a 1e-5 voxel step.\n"
         "Voxel coordinates count from 1: (1, 1, 1) is the centre of the first voxel.\n"
         "\n"
         "sample, slice, reslice and demo run on every CPU this process may use; --threads N\n"
         "or the environment variable VOLACCESS_NUM_THREADS sets another count (--threads wins).\n"
         "The results are the same, bit for bit, with any number of threads.\n";
}

std::string help_text(const CommandDef &command) {
  std::string text =
      std::string("usage: volaccess ") + command.name + " " + command.usage + "\n\n" + command.description + "\n";
  for (const OptionDef &option : command.options) text += columns(option_label(option), option.help, kOptionHelpColumn);
  return text;
}

int run_program(int argc, char **argv) {
  const Words all(argv + 1, argv + argc);
  try {
    if (all.empty() || all[0] == "-h" || all[0] == "--help" || all[0] == "help") {
      std::fputs(overview_text().c_str(), all.empty() ? stderr : stdout);
      flush_standard_output();
      return all.empty() ? 2 : 0;
    }
    const CommandDef *command = find_command(all[0]);
    if (!command) throw ArgumentError("unknown command " + quoted(all[0]) + " (see 'volaccess --help')");
    const Words words(all.begin() + 1, all.end());
    if (wants_help(words)) {
      std::fputs(help_text(*command).c_str(), stdout);
      flush_standard_output();
      return 0;
    }
    command->run(Arguments(command->name, words, command->options));
    flush_standard_output();
    return 0;
  } catch (const ArgumentError &e) {
    report(e.what());
    return 2;
  } catch (const Error &e) {
    report(e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    report("out of memory");
    return 1;
  }
}

}  // namespace vacli
