#include "arguments.h"

#include <cmath>
#include <limits>

#include "errors.h"
#include "text_numbers.h"

namespace vacli {

namespace {

[[noreturn]] void usage(const std::string &text) { throw ArgumentError(text); }

const OptionDef *find_long(const std::vector<OptionDef> &options, const std::string &name) {
  for (const OptionDef &o : options)
    if (o.name == name) return &o;
  return nullptr;
}

const OptionDef *find_short(const std::vector<OptionDef> &options, char c) {
  for (const OptionDef &o : options)
    if (o.short_name == c) return &o;
  return nullptr;
}

}  // namespace

Arguments::Arguments(const std::string &command, const std::vector<std::string> &words,
                     const std::vector<OptionDef> &options)
    : command_(command) {
  const std::string see = " (see 'volaccess " + command + " --help')";
  bool only_positional = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (only_positional || w == "-" || w.size() < 2 || w[0] != '-' || (w[1] != '-' && to_double(w))) {
      positional_.push_back(w);
      continue;
    }
    if (w == "--") {
      only_positional = true;
      continue;
    }
    const OptionDef *matched = nullptr;
    std::string name;
    std::optional<std::string> inline_value;
    if (w[1] == '-') {
      name = w.substr(2);
      const std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        inline_value = name.substr(eq + 1);
        name.erase(eq);
      }
      matched = find_long(options, name);
    } else if (w.size() == 2) {
      matched = find_short(options, w[1]);
    }
    if (!matched) usage("unknown option " + shortened(w) + " for '" + command + "'" + see);
    name = matched->name;
    if (options_.count(name) && !matched->repeatable) usage("option --" + name + " given twice");
    if (!matched->takes_value()) {
      if (inline_value) usage("option --" + name + " takes no value");
      options_[name].push_back("");
      continue;
    }
    if (inline_value) {
      options_[name].push_back(*inline_value);
    } else {
      if (i + 1 >= words.size()) usage("option --" + name + " needs a value" + see);
      options_[name].push_back(words[++i]);
    }
    // No option means anything by an empty value; a file option would
    // otherwise fail later with a system message about a nameless file.
    if (options_[name].back().empty()) usage("option --" + name + " has an empty value" + see);
  }
}

std::optional<std::string> Arguments::value(const std::string &name) const {
  const auto it = options_.find(name);
  if (it == options_.end()) return std::nullopt;
  return it->second.front();
}

std::vector<std::string> Arguments::values(const std::string &name) const {
  const auto it = options_.find(name);
  return it == options_.end() ? std::vector<std::string>{} : it->second;
}

std::string Arguments::only_positional(const std::string &what) const {
  const std::string see = " (see 'volaccess " + command_ + " --help')";
  if (positional_.empty()) usage("'" + command_ + "' needs " + what + see);
  if (positional_.size() > 1) usage("unexpected argument " + quoted(positional_[1]) + see);
  if (positional_[0].empty()) usage("'" + command_ + "' was given an empty name for " + what + see);
  return positional_[0];
}

int32_t parse_hold(const std::string &text) {
  // Not among the kernel names: callers that hand names straight to the
  // volume library must never see this code.
  if (text == "label") return kLabelHold;
  if (const std::optional<int32_t> named = hold_by_name(text)) return *named;
  const std::optional<int64_t> hold = to_integer(text);
  if (!hold) usage("--hold: " + quoted(text) + " is none of nearest, linear, cubic, sinc, label, or a whole number");
  const std::string problem = hold_range_problem(*hold);
  if (!problem.empty()) usage("--hold " + shortened(text) + " is out of range: " + problem);
  return static_cast<int32_t>(*hold);
}

double parse_real(const std::string &option, const std::string &text) {
  const std::optional<double> v = to_double(text);
  if (!v) usage("--" + option + ": " + quoted(text) + " is not a number");
  return *v;
}

int64_t parse_integer(const std::string &option, const std::string &text, int64_t low, int64_t high) {
  const std::optional<int64_t> v = to_integer(text);
  if (!v) usage("--" + option + ": " + quoted(text) + " is not a whole number");
  if (*v < low || *v > high)
    usage("--" + option + " " + shortened(text) + " is out of range " + std::to_string(low) + " to " +
          std::to_string(high));
  return *v;
}

std::pair<int32_t, int32_t> parse_size(const std::string &text) {
  const std::size_t x = text.find('x');
  const std::optional<int64_t> w = x == std::string::npos ? std::nullopt : to_integer(text.substr(0, x));
  const std::optional<int64_t> h = x == std::string::npos ? std::nullopt : to_integer(text.substr(x + 1));
  if (!w || !h || *w < 1 || *h < 1) usage("--size: " + quoted(text) + " is not WIDTHxHEIGHT with both at least 1");
  if (*w > std::numeric_limits<int32_t>::max() / *h)
    usage("--size " + shortened(text) + " is too large: at most 2^31 - 1 pixels");
  return {static_cast<int32_t>(*w), static_cast<int32_t>(*h)};
}

TransformOption parse_transform_option(const std::string &text) {
  TransformOption o;
  o.inverse = ends_with(text, kInverseSuffix);
  o.path = o.inverse ? text.substr(0, text.size() - (sizeof kInverseSuffix - 1)) : text;
  if (o.path.empty()) usage("--transform: " + quoted(text) + " names no file");
  return o;
}

Mat4 parse_matrix_text(const std::string &option, const std::string &text) {
  const std::vector<std::string> fields = split_fields(text);
  if (fields.size() != 16)
    usage("--" + option + ": expected 16 numbers (4 rows of 4), found " + std::to_string(fields.size()));
  std::array<double, 16> rows{};
  for (std::size_t i = 0; i < 16; ++i) {
    const std::optional<double> v = to_double(fields[i]);
    if (!v || !std::isfinite(*v)) usage("--" + option + ": " + quoted(fields[i]) + " is not a finite number");
    rows[i] = *v;
  }
  return from_rows(rows);
}

int64_t volume_option(const Arguments &args) {
  const std::optional<std::string> v = args.value("volume");
  return v ? parse_integer("volume", *v, 1, std::numeric_limits<int64_t>::max()) : 1;
}

int32_t hold_or_label_option(const Arguments &args) {
  const std::optional<std::string> v = args.value("hold");
  return v ? parse_hold(*v) : 1;
}

int32_t hold_option(const Arguments &args) {
  const int32_t hold = hold_or_label_option(args);
  if (hold == kLabelHold) usage("--hold label: '" + args.command() + "' cannot hold labels");
  return hold;
}

double background_option(const Arguments &args) {
  const std::optional<std::string> v = args.value("background");
  return v ? parse_real("background", *v) : 0.0;
}

ScalingWords scaling_words(const std::string &output) { return {output, "--background", "--datatype float32"}; }

std::string required_option(const Arguments &args, const std::string &name) {
  const std::optional<std::string> v = args.value(name);
  if (!v) usage("'" + args.command() + "' needs --" + name + " (see 'volaccess " + args.command() + " --help')");
  return *v;
}

std::optional<Window> window_option(const Arguments &args) {
  const std::optional<std::string> v = args.value("window");
  if (!v) return std::nullopt;
  const std::vector<std::string> f = split_fields(*v);
  const std::optional<double> low = f.size() == 2 ? to_double(f[0]) : std::nullopt;
  const std::optional<double> high = f.size() == 2 ? to_double(f[1]) : std::nullopt;
  if (!low || !high || !std::isfinite(*low) || !std::isfinite(*high) || !(*low < *high))
    throw ArgumentError("--window: " + quoted(*v) + " is not LOW,HIGH with LOW below HIGH");
  return Window{*low, *high};
}

}  // namespace vacli
