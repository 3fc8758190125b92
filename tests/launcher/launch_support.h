// Helpers for the launcher's tests: temporary trees, running a program (or a
// function) with its standard streams captured, and a private file system
// root in which a system-wide /Library/Preferences can be laid out without
// touching the real one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace launcher_test {

// A fresh directory (mode 0755, its real path, no symbolic links on the way),
// removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Creates the directory and its parents (mode 0755).
void make_dirs(const std::string &path);
// Writes `bytes` to `path`, creating its parent directories.
void write_file(const std::string &path, const std::string &bytes);
// The whole file, or none.
std::optional<std::string> read_file(const std::string &path);
// Copies a file with its mode bits.
void copy_file(const std::string &from, const std::string &to);

struct Captured {
  std::string out;
  std::string err;
  // The exit status when the process exited; -1000 - signal when killed.
  int status = 0;
};

// Runs `body` in a child process with its standard output and error captured;
// `status` is body's result as an exit status.
Captured capture_in_child(const std::function<int()> &body);

// One bind mount inside a private root: `source` on the real file system
// shows at `target` (an absolute path inside the new root).
struct Bind {
  std::string source;
  std::string target;
};

struct Launch {
  std::string program;             // the file executed
  std::vector<std::string> argv;   // argv as the program sees it (may be empty)
  std::string cwd;                 // empty: the test's own
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

Captured run(const Launch &launch);

// Whether this process may make a private mount namespace and root (needs
// root's privileges); probed once.
bool private_root_available();

}  // namespace launcher_test
