// The search for a Calvex Runtime installation holding one library file:
// beside the launcher, on the library path, in the install areas of the
// preference files, and (for inexact searches) any marker library beside
// the launcher. It only looks; nothing is loaded or changed.
#include <sys/stat.h>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <cstdlib>
#include <optional>

#include "install_areas.h"
#include "launcher.h"
#include "platform.h"
#include "trace.h"

namespace {

// The platform directory name, as installations lay it out.
constexpr char kPlatformDir[] = "maca64";

bool exists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> split_at(const std::string &text, const char *separators) {
  std::vector<std::string> parts;
  boost::algorithm::split(parts, text, boost::algorithm::is_any_of(separators));
  return parts;
}

// Step 2: the first DYLD_LIBRARY_PATH entry that is a runtime's platform
// directory and holds the library.
bool search_library_path(const char *value, std::string &root, const std::string &libName,
                         std::string &location, const OutputManager &out) {
  trace_line(out, "2. search ", value);
  for (const std::string &entry : split_at(value, ":")) {
    std::string candidate = join_paths(2, entry.c_str(), libName.c_str());
    std::vector<std::string> components = split_at(candidate, "/");
    const std::string parent =
        components.size() < 2 ? std::string() : components[components.size() - 2];
    if (parent == kPlatformDir && exists(candidate)) {
      trace_line(out, "Found ", libName, " in ", entry);
      location = entry;
      root = join_paths(3, entry.c_str(), "..", "..");
      return true;
    }
  }
  return false;
}

// Step 3: the install areas listed in the user's and then the system's
// preference file. Without a home directory neither file is read.
bool search_preferences(const std::string &libName, std::string &location,
                        const OutputManager &out) {
  trace_line(out, "3. Try to find ", libName, " in registry and preference settings");
  std::optional<std::string> home = launcher_platform::home_directory();
  if (!home) return false;
  for (const std::string &prefix : {*home, std::string()}) {
    const std::string file = preference_file_name(prefix);
    if (out.verbose) {
      // A name without an ISO Latin-1 form is traced as its bytes stand.
      std::optional<std::string> shown = launcher_platform::to_iso_latin1(file);
      trace_line(out, "Looking for preferences at: ", shown ? *shown : file);
    }
    std::optional<std::string> content = launcher_platform::read_whole_file(file);
    if (!content) continue;
    const InstallAreaList list = parse_install_areas(content->data(), content->size());
    trace_line(out, "... loaded preferences");
    if (!list.parsed) continue;
    for (const std::string &area : list.areas) {
      // Plain concatenation: an area ending in "/" keeps a doubled "/".
      const std::string candidate = area + "/runtime/" + kPlatformDir + "/" + libName;
      trace_line(out, "Looking for installed Calvex Runtime at:  ", candidate);
      if (exists(candidate)) {
        trace_line(out, "Using preference list install area:  ", area);
        location = area;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool findLib(std::string &root, const std::string &libName, std::string &location, bool exactName,
             bool, OutputManager &out) {
  const std::string runtime_dir = join_paths(3, root.c_str(), "runtime", kPlatformDir);
  const std::string candidate = join_paths(2, runtime_dir.c_str(), libName.c_str());
  trace_line(out, "1. search ", candidate);
  if (exists(candidate)) {
    location = runtime_dir;
    trace_line(out, "Find ", libName, " in ", location);
    return true;
  }

  if (const char *library_path = std::getenv("DYLD_LIBRARY_PATH")) {
    if (search_library_path(library_path, root, libName, location, out)) return true;
  }

  if (search_preferences(libName, location, out)) return true;
  if (exactName) return false;

  if (match_file_in_dir(runtime_dir.c_str(), "libqvdeployrt", ".dylib")) {
    trace_line(out, "Found in ", runtime_dir);
    location = runtime_dir;
    return true;
  }
  trace_line(out, "Can't locate library: ", libName);
  return false;
}
