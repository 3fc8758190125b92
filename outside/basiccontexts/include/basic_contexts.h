// The contexts a compiler call works in: an error context that holds the
// text of the last failure, and a compiler context that knows the
// temporary folder and the fatal callback.
#ifndef BASIC_CONTEXTS_H
#define BASIC_CONTEXTS_H

#include <string>

// Called when the process cannot go on; must not return. Receives the
// context it fired for, a short text with its length, and the detail.
using ut_fatal_callback = void (*)(void *context, const char *text, int length, const char *detail);

struct error_context {
  std::string message;
};

struct compiler_context {
  ut_fatal_callback fatal = nullptr;
  std::string temporary_folder;
};

struct BasicContexts {
  error_context error;
  compiler_context compiler;
};

// Sets up `contexts` for one call. The temporary folder is $TMPDIR, or
// "/tmp" when that is unset or empty; it must be an existing directory.
// `flags` must be 0. Returns 0 on success; otherwise nonzero, with the
// reason in contexts->error.message. Throws std::invalid_argument for a
// null `contexts`.
int utInitializeBasicContexts(BasicContexts *contexts, ut_fatal_callback fatal, int flags);

// Releases what utInitializeBasicContexts set up; null is ignored.
void utClearBasicContexts(BasicContexts *contexts);

// Hands `detail` to the context's fatal callback. Does not return: if the
// callback comes back, the process aborts.
[[noreturn]] void utReportFatal(compiler_context *context, const char *detail);

#endif
