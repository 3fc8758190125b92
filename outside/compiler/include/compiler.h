// The compiler library: checks a compiler command line and analyses what
// the application requires.
#ifndef COMPILER_H
#define COMPILER_H

#include <cstdint>

#include "basic_contexts.h"
#include "fl/ustring.h"
#include "output_sink.h"

// Evaluates a host command text; 0 when it ran.
using Evaluator = int (*)(const char *command);

// What a caller hands to compiler(). The analysis only reads context,
// argc, argv, the sinks and requirements_dir; the other fields belong to
// compiler steps this library does not offer and are carried unread.
struct CompilerInputArgs {
  compiler_context *context = nullptr;
  Evaluator evaluate = nullptr;
  unsigned char options = 0;
  std::int32_t argc = 0;
  const char16_t *const *argv = nullptr;  // argv[0] is the program name
  OutputSink output = nullptr;
  void *output_context = nullptr;
  OutputSink error = nullptr;
  void *error_context = nullptr;
  compiler_context *analysis_context = nullptr;
  unsigned char interactive = 0;
  fl::ustring requirements_dir;  // where the requirements file goes
  int mode = 0;
  fl::ustring target;
};

constexpr int kApplicationNameSize = 128;

struct CompilerResult {
  unsigned char verbose = 0;                             // "-v" was given
  char16_t application_name[kApplicationNameSize] = {};  // zero-terminated
  fl::ustring output_folder;                             // "-d", else empty
  bool failed = false;                                   // nothing to package; the reason went to the sinks
};

// Checks the command line argv[0..argc-1]:
//   -?            help on the output sink; nothing else happens
//   -v            verbose
//   -o NAME       the application name (default: the first source's stem)
//   -d FOLDER     the package's folder (default: the current folder)
//   anything else not starting with '-' is a source file that must exist.
// A bad command line is reported on the error sink and sets `failed`; a
// command line of the program name alone prints the usage and sets
// `failed`. Otherwise writes the requirements file into requirements_dir.
// Throws DeployedException "COM_ERROR_REQUIREMENTS" when that fails, and
// std::invalid_argument when argc, argv or requirements_dir is missing, or
// requirements_dir holds a zero character.
CompilerResult compiler(const CompilerInputArgs &args);

#endif
