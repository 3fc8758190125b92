// The one runtime version this launcher is built for, the file name of its
// marker library, and the check that stops a launch without it.
#include <sstream>
#include <stdexcept>

#include "launcher.h"
#include "trace.h"

namespace {

constexpr char kRuntimeMajor[] = "23";
constexpr char kRuntimeMinor[] = "2";
constexpr char kRuntimeUpdate[] = "0";

}  // namespace

std::string build_lib_name(const char *major, const char *minor, const char *update,
                           OutputManager &out) {
  const std::string major_s = major;
  const std::string minor_s = minor;
  const std::string update_s = update;
  std::string name = "libqvdeployrt";
  if (major_s == "7" && minor_s == "13") {
    // Version 7.13 never carried an update in its file name.
    name += "." + major_s + "." + minor_s + ".dylib";
  } else {
    name += "." + major_s + "." + minor_s;
    if (update_s != "0") name += "." + update_s;
    name += ".dylib";
  }
  trace_line(out, "build library name=", name);
  return name;
}

bool checkVXRVersion(std::string &root, OutputManager &out) {
  const std::string libName = build_lib_name(kRuntimeMajor, kRuntimeMinor, kRuntimeUpdate, out);
  std::string location;
  if (findLib(root, libName, location, true, false, out)) return true;
  std::ostringstream message;
  message << "Could not find version " << kRuntimeMajor << "." << kRuntimeMinor
          << " of the Calvex Runtime.\n"
          << "Attempting to load " << libName << ".\n"
          << "Please install the correct version of the Calvex Runtime.\n"
          << "Contact your vendor if you do not have an installer for the Calvex Runtime.";
  throw std::runtime_error(message.str());
}
