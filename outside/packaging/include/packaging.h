// The packaging step: turns a project file into one package file.
#ifndef PACKAGING_H
#define PACKAGING_H

#include "output_sink.h"

// Reads the project file at `project_file` and the requirements it points
// to, and writes "<name>.pkg" (a header line, then each source file with
// its path and size) into the project's output folder, or its current
// folder when it names none. Progress goes to `output` when the project
// is verbose; replacing an existing package is noted on `error`. With
// `dry_run` nothing is written. Returns 0.
// Throws DeployedException: "PKG_PROJECT_FILE_MISSING" or
// "PKG_PROJECT_FILE_MALFORMED" for the project file,
// "PKG_REQUIREMENTS_MISSING" or "PKG_REQUIREMENTS_MALFORMED" for the
// requirements, "PKG_SOURCE_MISSING" for a source that cannot be read.
// Throws std::system_error naming the package when it cannot be written.
int do_packaging(const char *project_file, bool dry_run, OutputSink output, OutputSink error);

#endif
