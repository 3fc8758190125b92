// The compiler command: checks its inputs, runs the requirements analysis,
// writes a temporary project file, packages, and removes its temporary
// folder again. Every failure of those steps becomes one host error.
#include "zcc.h"

#include <boost/exception_ptr.hpp>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "calvex_string.h"
#include "compiler.h"
#include "deployed_exception.h"
#include "dispatcher.h"
#include "fl/filesystem.h"
#include "fl/i18n.h"
#include "packaging.h"
#include "project_file.h"
#include "settings/core.h"
#include "system_panic.h"
#include "trace_scope.h"

namespace {

// Where each step's trace records say they come from: its signature, and
// the source file and line logged with it. The file and line are the fixed
// values the readers of these logs know the steps by, not places in this
// file.
struct TraceLocation {
  const char *signature;
  const char *file;
  int line;
};
constexpr TraceLocation kEntryTrace{"void extFunction(int, hxArray **, int, const hxArray **)", "zcc", 157};
constexpr TraceLocation kAnalysisTrace{"bool do_requirements_analysis(error_context, compiler_args, fl::ustring &)",
                                       "zcc", 99};
constexpr const char kUnknownFailure[] = "Unknown exception occurred during compilation";

// The compiler's options byte and its mode of a requirements analysis.
constexpr unsigned char kAnalysisOptions = 0x27;
constexpr int kAnalysisMode = 1;

[[noreturn]] void raise_not_text() {
  extErrMsgIdAndTxt("compiler:inputsMustBeStrings",
                    "All inputs to ZCC must be character vectors or strings (-? for help)");
}

fl::ustring input_text(const hxArray *input) {
  fl::ustring text;
  if (!String::getScalarText(input, text, true)) raise_not_text();
  return text;
}

// Where the analysis goes: a folder the caller gave with "-D", or a fresh
// temporary one.
struct AnalysisFolder {
  bool given = false;
  fl::ustring path;
};

// Appends the inputs to args.arguments, except "-D" and the folder after
// it. "-D" without a text after it counts as an input that is not text.
AnalysisFolder read_inputs(int nrhs, const hxArray *prhs[], compiler_args &args) {
  AnalysisFolder folder;
  for (int i = 0; i < nrhs; ++i) {
    fl::ustring text = input_text(prhs[i]);
    if (text != u"-D") {
      args.arguments.push_back(std::move(text));
      continue;
    }
    if (i + 1 == nrhs) raise_not_text();
    folder.path = input_text(prhs[++i]);
    folder.given = true;
  }
  return folder;
}

// The basic contexts of one call: set up on creation (a failure ends the
// process), cleared on destruction.
class CallContexts {
 public:
  CallContexts() {
    if (utInitializeBasicContexts(&contexts_, comThrowError, 0) != 0)
      System::panicsf(3, "%s", contexts_.error.message.c_str());
  }
  ~CallContexts() { utClearBasicContexts(&contexts_); }
  CallContexts(const CallContexts &) = delete;
  CallContexts &operator=(const CallContexts &) = delete;

  error_context *errors() { return &contexts_.error; }
  compiler_context *compiler() { return &contexts_.compiler; }

 private:
  BasicContexts contexts_;
};

// The folder is temporary; failing to remove it must not hide the outcome.
void remove_quietly(const fl::ustring &dir) {
  try {
    fl::filesystem::remove_all(dir);
  } catch (const std::exception &) {
  }
}

void store_project_file_path(compiler_args &args, const std::string &path) {
  if (path.find('\0') != std::string::npos)
    throw std::invalid_argument("The project file path '" + path + "' contains a zero byte");
  if (path.size() >= sizeof args.project_file)
    throw std::length_error("The project file path '" + path + "' is longer than " +
                            std::to_string(sizeof args.project_file - 1) + " bytes");
  std::memcpy(args.project_file, path.c_str(), path.size() + 1);
}

void report_failure(compiler_args &args, const boost::exception_ptr &failure) {
  std::string message = kUnknownFailure;
  std::string identifier = "COM_ERROR_UNKNOWN";
  try {
    boost::rethrow_exception(failure);
  } catch (const DeployedException &e) {
    message = e.what();
    identifier = e.identifier();
  } catch (const std::exception &e) {
    message = e.what();
  } catch (...) {
  }
  handleException(args, message, identifier);
}

// Analysis, project file and packaging; any failure removes the temporary
// folder first and then becomes a host error.
void run_steps(CallContexts &contexts, compiler_args &args, AnalysisFolder &folder) {
  fl::ustring dir;
  bool dir_named = false;
  boost::exception_ptr failure;
  try {
    if (folder.given) {
      do_requirements_analysis(contexts.errors(), args, folder.path);
    } else {
      dir = com_ext_generate_unique_dir_name();
      dir_named = true;
      if (do_requirements_analysis(contexts.errors(), args, dir))
        do_packaging(args.project_file, false, ext_putsn, ext_putsn);
      remove_quietly(dir);
    }
  } catch (...) {
    failure = boost::current_exception();
  }
  if (!failure) return;
  if (dir_named) remove_quietly(dir);
  report_failure(args, failure);
}

}  // namespace

bool do_requirements_analysis(error_context *errors, compiler_args &args, fl::ustring &dir) {
  TraceScope scope(zcc_logger(), kAnalysisTrace.signature, kAnalysisTrace.file, kAnalysisTrace.line);
  const fl::ustring base = dir.empty() ? fl::ustring() : fl::filesystem::detail::make_native_form(dir, true);
  const fl::ustring requirements_dir = fl::filesystem::detail::concatenate_pathname(base, u"kestrel_zcc_reqtsOut");

  std::vector<const char16_t *> argv;
  for (const fl::ustring &argument : args.arguments) argv.push_back(argument.c_str());
  if (argv.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw std::length_error("Too many inputs for the compiler");

  CompilerInputArgs input;
  input.context = args.context;
  input.evaluate = extEvalString;
  input.options = kAnalysisOptions;
  input.argc = static_cast<std::int32_t>(argv.size());
  input.argv = argv.data();
  input.output = ext_putsn;
  input.output_context = nullptr;
  input.error = ext_putsn;
  input.error_context = nullptr;
  input.analysis_context = args.context;
  input.interactive = 0;
  input.requirements_dir = requirements_dir;
  input.mode = kAnalysisMode;
  input.target = fl::ustring();
  const CompilerResult result = compiler(input);
  if (result.failed) return false;

  store_project_file_path(args,
                          fl::i18n::to_string(fl::filesystem::detail::concatenate_pathname(base, u"kestrel_zcc_prj")));
  const PathManagement::IPath current_folder = Cdispatcher::getDispatcher().GetCurrentPath();
  com_create_temporary_project_file(errors, args.project_file, input.argc, argv.data(), current_folder,
                                    result.verbose != 0, result.application_name, kApplicationNameSize, true,
                                    requirements_dir, result.output_folder, kProjectFileFormat);
  return true;
}

void extFunction(int nlhs, hxArray *[], int nrhs, const hxArray *prhs[]) {
  TraceScope scope(zcc_logger(), kEntryTrace.signature, kEntryTrace.file, kEntryTrace.line);
  if (nlhs >= 1) extErrMsgIdAndTxt("compiler:noOutputs", "ZCC does not return any outputs (-? for help)");
  compiler_args args;
  args.arguments.push_back(u"zcc");
  AnalysisFolder folder = read_inputs(nrhs, prhs, args);
  settings::core::waitForWriteQueueToFinish();
  CallContexts contexts;
  args.context = contexts.compiler();
  run_steps(contexts, args, folder);
}

void extfilerequiredapiversion(std::uint32_t *release, std::uint32_t *api_version) {
  if (release) *release = kCalvexRelease;
  if (api_version) *api_version = kRequiredApiVersion;
}
