// Helpers for the launcher's tests on top of the shared ones (tests/support):
// running the launcher with its standard streams captured in a private file
// system root, in which a system-wide /Library/Preferences can be laid out
// without touching the real one.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace launcher_test {

// Copies a file with its mode bits, creating the parent folders.
void copy_file(const std::string &from, const std::string &to);

// One bind mount inside a private root: `source` on the real file system
// shows at `target` (an absolute path inside the new root).
struct Bind {
  std::string source;
  std::string target;
};

struct Launch {
  std::string program;            // the file executed
  std::vector<std::string> argv;  // argv as the program sees it (may be empty)
  std::string cwd;                // empty: the test's own
  // Variable changes on top of the test's environment, from which the
  // launcher's switches, DYLD_LIBRARY_PATH and the stand-in's controls are
  // removed first. A value of none unsets the variable.
  std::map<std::string, std::optional<std::string>> env;
  // Run inside a private mount namespace whose root holds only the system
  // directories, the temporary directory and `binds`.
  bool private_root = false;
  std::vector<Bind> binds;
  std::optional<uid_t> uid;  // run as this user and group id
};

test_support::Captured run(const Launch &launch);

// Whether this process may make a private mount namespace and root (needs
// root's privileges); probed once.
bool private_root_available();

}  // namespace launcher_test
