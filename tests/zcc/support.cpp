#include "support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace zcc_test {

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string> &value) : name_(std::move(name)) {
  if (const char *old = std::getenv(name_.c_str())) old_ = old;
  if (value)
    ::setenv(name_.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    ::setenv(name_.c_str(), old_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedCwd::ScopedCwd(const std::string &dir) : fd_(::open(".", O_RDONLY | O_DIRECTORY)) {
  if (fd_ < 0 || ::chdir(dir.c_str()) != 0) throw std::runtime_error("cannot change to " + dir);
}

ScopedCwd::~ScopedCwd() {
  if (::fchdir(fd_) != 0) std::abort();
  ::close(fd_);
}

bool exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace zcc_test
