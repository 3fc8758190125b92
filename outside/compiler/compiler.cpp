#include "compiler.h"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "deployed_exception.h"
#include "fl/i18n.h"
#include "requirements_file.h"

namespace {

class Reporter {
 public:
  explicit Reporter(const CompilerInputArgs &args) : output_(args.output), error_(args.error) {}
  void say(const std::string &text) const { write(output_, text); }
  void complain(const std::string &text) {
    write(error_, text);
    complained_ = true;
  }
  bool complained() const { return complained_; }

 private:
  static void write(OutputSink sink, const std::string &text) {
    if (sink) sink(text.data(), static_cast<int>(text.size()));
  }
  OutputSink output_;
  OutputSink error_;
  bool complained_ = false;
};

struct CommandLine {
  std::string program;
  std::vector<std::string> arguments;  // after the program name
  bool help = false;
  bool verbose = false;
  std::string name;
  std::string output_folder;
  std::vector<std::string> sources;
};

std::string usage(const std::string &program) {
  return "Usage: " + program + " [options] source...\n" +
         "  -?         show this help\n"
         "  -v         report each step\n"
         "  -o NAME    name the application (default: the first source's name)\n"
         "  -d FOLDER  write the package into FOLDER (default: the current folder)\n";
}

CommandLine parse(const CompilerInputArgs &args, Reporter &reporter) {
  CommandLine line;
  line.program = fl::i18n::to_string(args.argv[0]);
  for (std::int32_t i = 1; i < args.argc; ++i) line.arguments.push_back(fl::i18n::to_string(args.argv[i]));
  const std::vector<std::string> &a = line.arguments;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "-?") {
      line.help = true;
    } else if (a[i] == "-v") {
      line.verbose = true;
    } else if (a[i] == "-o" || a[i] == "-d") {
      if (i + 1 == a.size()) {
        reporter.complain(line.program + ": option " + a[i] + " needs a value\n");
        break;
      }
      std::string &value = a[i] == "-o" ? line.name : line.output_folder;
      value = a[++i];
    } else if (a[i].size() > 1 && a[i][0] == '-') {
      reporter.complain(line.program + ": unknown option '" + a[i] + "' (-? for help)\n");
    } else {
      line.sources.push_back(a[i]);
    }
  }
  return line;
}

// The sources as absolute paths; each missing one is reported.
std::vector<std::string> find_sources(const CommandLine &line, Reporter &reporter) {
  std::vector<std::string> found;
  for (const std::string &source : line.sources) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec)) {
      reporter.complain(line.program + ": source file '" + source + "' not found\n");
      continue;
    }
    found.push_back(std::filesystem::absolute(source, ec).lexically_normal().string());
  }
  return found;
}

void write_requirements(const CompilerInputArgs &args, const CommandLine &line,
                        const std::vector<std::string> &sources) {
  try {
    com_write_requirements(args.requirements_dir, Requirements{line.program, line.arguments, sources});
  } catch (const std::exception &e) {
    throw DeployedException(std::string("The requirements cannot be written: ") + e.what(), "COM_ERROR_REQUIREMENTS");
  }
}

CompilerResult analyse(const CompilerInputArgs &args) {
  CompilerResult result;
  Reporter reporter(args);
  CommandLine line = parse(args, reporter);
  if (args.argc == 1 || line.help) {
    reporter.say(usage(line.program));
    result.failed = true;
    return result;
  }
  if (line.sources.empty() && !reporter.complained())
    reporter.complain(line.program + ": no source files given (-? for help)\n");
  const std::vector<std::string> sources = find_sources(line, reporter);
  const fl::ustring name = fl::i18n::to_ustring(
      !line.name.empty() || sources.empty() ? line.name : std::filesystem::path(sources.front()).stem().string());
  if (name.size() >= kApplicationNameSize)
    reporter.complain(line.program + ": the application name '" + fl::i18n::to_string(name) + "' is longer than " +
                      std::to_string(kApplicationNameSize - 1) + " characters\n");
  if (reporter.complained()) {
    result.failed = true;
    return result;
  }
  write_requirements(args, line, sources);
  if (line.verbose)
    reporter.say(line.program + ": " + std::to_string(sources.size()) + " source file(s); requirements in '" +
                 fl::i18n::to_string(args.requirements_dir) + "'\n");
  result.verbose = line.verbose ? 1 : 0;
  name.copy(result.application_name, name.size());
  result.output_folder = fl::i18n::to_ustring(line.output_folder);
  return result;
}

}  // namespace

CompilerResult compiler(const CompilerInputArgs &args) {
  if (args.argc < 1 || !args.argv || args.requirements_dir.empty() ||
      args.requirements_dir.find(u'\0') != fl::ustring::npos)
    throw std::invalid_argument("compiler: no program name, no arguments, or no usable requirements folder ('" +
                                fl::i18n::to_string(args.requirements_dir) + "')");
  try {
    return analyse(args);
  } catch (const std::bad_alloc &) {
    utReportFatal(args.context, "Out of memory during the requirements analysis");
  }
}
