// The entry point of the Calvex Runtime launcher library, as app_launcher
// calls it. The real library ships with the runtime; this folder builds a
// stand-in of the same name and signature.
#pragma once

#include <string>
#include <vector>

// Runs the packaged application with the argument vector `args` (element 0:
// the launcher's full path; then the command-line arguments unchanged) and
// returns its exit status. The vector belongs to the caller and is only read.
// Failures either return a status or throw an exception.
int standaloneMain(const std::vector<std::string> &args);
