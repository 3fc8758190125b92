// The command line: a command word, positional arguments and options
// ("--name value", "--name=value", or a bare "--flag"), checked against
// the options the command knows, and the parsers of option values.
#ifndef VOLACCESS_TOOLS_ARGUMENTS_H
#define VOLACCESS_TOOLS_ARGUMENTS_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "integer_scaling.h"
#include "kernels.h"
#include "matrix.h"
#include "png_writer.h"
#include "transform_chain.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// One option of a command and its line in the command's help.
struct OptionDef {
  const char *name;     // long name without dashes
  const char *value;    // the value's name in the help ("N", "FILE"), nullptr for a flag
  const char *help;     // what it does; further lines after '\n'
  char short_name = 0;  // e.g. 'o' for -o, 0 for none
  bool takes_value() const { return value != nullptr; }
  bool repeatable = false;  // may be given more than once
};

// Options several commands share, with the same help line.
inline constexpr OptionDef kVolumeOption{"volume", "T", "volume of a 4-D image, from 1 (default 1)"};
inline constexpr OptionDef kBackgroundOption{"background", "V", "value outside the volume (default 0; 'nan' accepted)"};
inline constexpr OptionDef kThreadsOption{"threads", "N",
                                          "threads sharing the work (default: the CPUs this process may use,\n"
                                          "or VOLACCESS_NUM_THREADS); the results are the same with any count"};

class Arguments {
 public:
  // Parses the words after the command; unknown options, missing values
  // and repeated options are UsageErrors.
  Arguments(const std::string &command, const std::vector<std::string> &words, const std::vector<OptionDef> &options);

  const std::string &command() const { return command_; }
  const std::vector<std::string> &positional() const { return positional_; }
  bool has(const std::string &name) const { return options_.count(name) != 0; }
  std::optional<std::string> value(const std::string &name) const;
  // Every value of a repeatable option, in the order given.
  std::vector<std::string> values(const std::string &name) const;
  // The single positional argument the command needs, called `what` in errors.
  std::string only_positional(const std::string &what) const;

 private:
  std::string command_;
  std::vector<std::string> positional_;
  std::map<std::string, std::vector<std::string>> options_;
};

// Interpolation code: 0 nearest neighbour, 1 trilinear, 2..170 Lagrange
// through hold + 1 nodes, -1..-254 windowed sinc over 1 - hold nodes; or
// one of the names nearest (0), linear (1), cubic (3), sinc (-3), and
// label (kLabelHold), which only commands that hold labels accept.
int32_t parse_hold(const std::string &text);
// Any double, "nan" included.
double parse_real(const std::string &option, const std::string &text);
// A whole number within [low, high].
int64_t parse_integer(const std::string &option, const std::string &text, int64_t low, int64_t high);
// "WxH", both at least 1, with fewer than 2^31 pixels in all.
std::pair<int32_t, int32_t> parse_size(const std::string &text);
// "FILE" or "FILE,inverse": a --transform option.
TransformOption parse_transform_option(const std::string &text);
// Sixteen numbers, row by row, separated by blanks or commas.
Mat4 parse_matrix_text(const std::string &option, const std::string &text);

// The options several commands share, with their defaults.
int64_t volume_option(const Arguments &args);         // --volume, 1
int32_t hold_option(const Arguments &args);           // --hold, 1; no labels
int32_t hold_or_label_option(const Arguments &args);  // --hold, 1; labels too
double background_option(const Arguments &args);      // --background, 0
// The program's words for an output file and the options that decide how
// an integer output stores its values.
ScalingWords scaling_words(const std::string &output);
// --window LO,HI: grey levels, LO below HI; none when not given.
std::optional<Window> window_option(const Arguments &args);
// The value of an option the command cannot do without.
std::string required_option(const Arguments &args, const std::string &name);

}  // namespace vacli

#endif
