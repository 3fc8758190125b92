#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zcc_test {

TempDir::TempDir() {
  char pattern[] = "/tmp/zcc_test_XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

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

void write_file(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

ChildResult wait_for(pid_t pid, const std::string &out_path, const std::string &err_path) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  ChildResult result;
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

void redirect(const std::string &path, int fd) {
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (file < 0 || ::dup2(file, fd) < 0) ::_exit(127);
  ::close(file);
}

}  // namespace

ChildResult run_in_child(const std::function<void()> &body) {
  TempDir dir;
  const std::string out = dir / "out", err = dir / "err";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    redirect(out, 1);
    redirect(err, 2);
    body();
    std::fflush(nullptr);
    ::_exit(0);
  }
  return wait_for(pid, out, err);
}

ChildResult run_program(const std::vector<std::string> &argv,
                        const std::vector<std::pair<std::string, std::optional<std::string>>> &env,
                        const std::string &cwd) {
  TempDir dir;
  const std::string out = dir / "out", err = dir / "err";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    redirect(out, 1);
    redirect(err, 2);
    for (const auto &[name, value] : env) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return wait_for(pid, out, err);
}

}  // namespace zcc_test
