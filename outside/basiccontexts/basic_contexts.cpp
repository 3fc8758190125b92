#include "basic_contexts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

std::string temporary_folder() {
  const char *dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

bool is_directory(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int utInitializeBasicContexts(BasicContexts *contexts, ut_fatal_callback fatal, int flags) {
  if (!contexts) throw std::invalid_argument("utInitializeBasicContexts: no contexts given");
  *contexts = BasicContexts{};
  if (flags != 0) {
    contexts->error.message = "Cannot set up the basic contexts: unsupported flags " + std::to_string(flags);
    return 1;
  }
  const std::string folder = temporary_folder();
  if (!is_directory(folder)) {
    contexts->error.message =
        "Cannot set up the basic contexts: the temporary folder '" + folder + "' is not a directory";
    return 1;
  }
  contexts->compiler.fatal = fatal;
  contexts->compiler.temporary_folder = folder;
  return 0;
}

void utClearBasicContexts(BasicContexts *contexts) {
  if (contexts) *contexts = BasicContexts{};
}

void utReportFatal(compiler_context *context, const char *detail) {
  static const char kText[] = "Fatal error";
  if (context && context->fatal)
    context->fatal(context, kText, static_cast<int>(std::strlen(kText)), detail ? detail : "");
  std::abort();
}
