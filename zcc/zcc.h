// The compiler command gateway: its per-call record and its steps.
#ifndef ZCC_ZCC_H
#define ZCC_ZCC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "basic_contexts.h"
#include "calvex/ext.h"
#include "fl/ustring.h"

#define ZCC_EXPORT __attribute__((visibility("default")))

// The host release this module is built for (1.0: major in the top byte,
// minor in the next) and the interface version it requires.
constexpr std::uint32_t kCalvexRelease = 0x01000000;
constexpr std::uint32_t kRequiredApiVersion = 0x08000000;

// Room for one project file path and its terminating zero.
constexpr std::size_t kProjectFilePathSize = 1024;

// What one call of the command shares between its steps.
struct compiler_args {
  compiler_context *context = nullptr;           // in the call's basic contexts
  std::vector<fl::ustring> arguments;            // "zcc", then the inputs
  char project_file[kProjectFilePathSize] = {};  // empty: no project file
};

extern "C" {
ZCC_EXPORT void extFunction(int nlhs, hxArray *plhs[], int nrhs, const hxArray *prhs[]);
ZCC_EXPORT void extfilerequiredapiversion(std::uint32_t *release, std::uint32_t *api_version);
}

// Runs the requirements analysis of args.arguments into
// "<dir>/kestrel_zcc_reqtsOut" and, when the compiler succeeds, writes the
// project file "<dir>/kestrel_zcc_prj" and records its path in
// args.project_file. Returns false when the compiler reported a failure
// through the sinks. Other failures throw; a project file path that does
// not fit args.project_file throws std::length_error.
bool do_requirements_analysis(error_context *errors, compiler_args &args, fl::ustring &dir);

// Raises the host error for a failure of the compiler steps: identifier
// "Compiler:compiler:<identifier>" (updated in place) and `message` with
// backslashes and percent signs doubled, through the host function
// "error". Should "error" return, the project file is deleted.
void handleException(compiler_args &args, const std::string &message, std::string &identifier);

// The fatal callback of the basic contexts: writes `detail` to standard
// error and aborts.
[[noreturn]] void comThrowError(void *context, const char *text, int length, const char *detail);

#endif
