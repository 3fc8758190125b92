#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace test_support {

namespace {

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// Reads both pipes to their ends without letting either fill up.
void drain(int out_fd, int err_fd, std::string &out, std::string &err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string *sinks[2] = {&out, &err};
  int open_count = 2;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

int decode_status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return -1000 - WTERMSIG(raw);
  return -2000;
}

}  // namespace

Captured fork_captured(const std::function<void()> &child) {
  std::cout.flush();
  std::fflush(nullptr);
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) fail("pipe2");
  const pid_t pid = ::fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    child();
    ::_exit(126);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  Captured result;
  drain(out_pipe[0], err_pipe[0], result.out, result.err);
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  result.status = decode_status(raw);
  return result;
}

Captured capture_in_child(const std::function<int()> &body) {
  return fork_captured([&] {
    const int result = body();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(result & 0xff);
  });
}

Captured run_program(const std::vector<std::string> &argv, const EnvChanges &env, const std::string &cwd) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  return fork_captured([&] {
    for (const auto &[name, value] : env) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  });
}

}  // namespace test_support
