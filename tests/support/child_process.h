// Running a function or a program in a child process with its standard
// output and error captured, for the tests of every subsystem.
#ifndef VOLACCESS_TESTS_SUPPORT_CHILD_PROCESS_H
#define VOLACCESS_TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

struct Captured {
  std::string out;
  std::string err;
  // The exit status when the process exited; -1000 - signal when killed.
  int status = 0;
  bool exited() const { return status >= 0; }
  int signal() const { return status <= -1000 && status > -2000 ? -1000 - status : 0; }
};

// Forks with standard output and error going to pipes that are read to
// their ends; `child` runs in the child and must end it (exec or _exit).
Captured fork_captured(const std::function<void()> &child);

// Runs `body` in a child process; its result is the exit status.
Captured capture_in_child(const std::function<int()> &body);

// Variables to set on top of the test's environment; a value of none
// unsets the variable.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Runs the program argv[0] with these arguments, environment changes and
// working folder (empty: the test's own). Exit status 126 when the folder
// cannot be entered, 127 when the program cannot be run.
Captured run_program(const std::vector<std::string> &argv, const EnvChanges &env = {}, const std::string &cwd = "");

}  // namespace test_support

#endif
