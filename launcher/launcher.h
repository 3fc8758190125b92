// The launcher's operations: the main flow, the runtime check and search,
// and the path toolkit. Exported under the names the launcher has always
// used, mixed styles included.
#pragma once

#include <string>
#include <vector>

#include "output_manager.h"

// ---- main flow --------------------------------------------------------------

// Fills an OutputManager from the environment: verbose from ARCX_VERBOSE,
// disableMessageBox from ARCX_DISABLE_MSGBOX (see launcher_switch_on), mode 2,
// not silent.
OutputManager launcher_output_from_environment();

// A switch is on exactly when its variable is set (`value` not null) and the
// value's first byte is neither the terminating zero nor '0'.
bool launcher_switch_on(const char *value);

// Checks the runtime below the directory that holds the launcher's bundle,
// then hands `argv` to standaloneMain with element 0 replaced by the
// launcher's own full path, and returns what it returns. Every failure,
// including an exception from the runtime, is reported through
// out.outputError and gives -1. `argc` is main's count widened.
int arcxLauncherMainFunc(unsigned long argc, char **argv, OutputManager &out);

// ---- runtime check ----------------------------------------------------------

// The file name of the runtime's marker library of one version:
// "libqvdeployrt.<major>.<minor>[.<update>].dylib", where the update part is
// left out when it is "0" and always for version 7.13. Traces the name.
std::string build_lib_name(const char *major, const char *minor, const char *update,
                           OutputManager &out);

// Asks findLib for the marker library of the built-in runtime version below
// `root` (which the search may replace). Returns true when found; otherwise
// throws std::runtime_error with the four-line message naming the version
// and the file.
bool checkVXRVersion(std::string &root, OutputManager &out);

// Searches, in order, (1) root/runtime/maca64, (2) each DYLD_LIBRARY_PATH
// entry whose last component is "maca64", (3) the install areas of the user's
// and then the system's preference file, and, only when `exactName` is
// false, (4) any "libqvdeployrt*.dylib" in root/runtime/maca64. Traces each
// try. On success sets `location` (and, in step 2, `root`) and returns true;
// a miss returns false. The fifth argument is not consulted. Never throws.
bool findLib(std::string &root, const std::string &libName, std::string &location, bool exactName,
             bool, OutputManager &out);

// ---- paths ------------------------------------------------------------------

// An empty function whose address certainly lies in the launcher's own image.
void dummyFunc();

// Zeroes `length` bytes of `buffer`, then copies into it the path of the
// loaded image with the greatest header address strictly below `address`,
// provided some image's header lies at or above `address`. A name that does
// not fit in `length` bytes with its terminating zero is a failed lookup.
// Returns false on failure, with the buffer all zero.
bool getCurrentModulePath(void *address, char *buffer, unsigned long length);

// The full path of the launcher's own executable, trimmed of white space at
// both ends. `path` is not used. Throws std::runtime_error
// ("Could not find the current executable file.") when the lookup fails.
std::string getApplicationFullPath(const std::string &path, OutputManager &out);

// The part of `path` before its last "/"; "." when it holds none. `path` is
// not changed.
std::string get_AppDir(std::string &path);

// Joins `count` trimmed pieces (`first` and count-1 zero-terminated byte
// strings) so that exactly one "/" is looked at on each side of each seam.
std::string join_paths(int count, const char *first, ...);

// Appends the name of every entry of `dir`, "." and ".." included, in the
// order the system lists them. Returns false, leaving `names` untouched,
// when the directory cannot be opened.
bool get_filelist(const std::string &dir, std::vector<std::string> &names);

// True when `dir` lists an entry whose name contains `part1` (unless empty)
// and `part2` (unless empty). An unlistable directory holds no match.
bool match_file_in_dir(const char *dir, const char *part1, const char *part2);
