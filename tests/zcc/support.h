// Helpers of the gateway tests on top of the shared ones (tests/support):
// environment and working-directory changes undone at scope end.
#ifndef ZCC_TESTS_SUPPORT_H
#define ZCC_TESTS_SUPPORT_H

#include <optional>
#include <string>

namespace zcc_test {

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

bool exists(const std::string &path);

}  // namespace zcc_test

#endif
