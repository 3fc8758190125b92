// Helpers of the gateway tests: temporary folders, environment and
// working-directory changes undone at scope end, files, child processes.
#ifndef ZCC_TESTS_SUPPORT_H
#define ZCC_TESTS_SUPPORT_H

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zcc_test {

// A fresh directory under /tmp, removed with its content at scope end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable until scope end.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string> &value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes the working directory until scope end.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string &dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd &) = delete;
  ScopedCwd &operator=(const ScopedCwd &) = delete;

 private:
  int fd_;
};

void write_file(const std::string &path, const std::string &text);
std::string read_file(const std::string &path);
bool exists(const std::string &path);
// Names in a directory, sorted; empty when it does not exist.
std::vector<std::string> entries(const std::string &dir);

struct ChildResult {
  bool exited = false;
  int exit_code = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs `body` in a forked child whose standard output and error are
// captured; the child ends with status 0 if `body` returns.
ChildResult run_in_child(const std::function<void()> &body);

// Runs a program with extra environment variables (nullopt unsets one) in
// the working directory `cwd`.
ChildResult run_program(const std::vector<std::string> &argv,
                        const std::vector<std::pair<std::string, std::optional<std::string>>> &env,
                        const std::string &cwd);

}  // namespace zcc_test

#endif
