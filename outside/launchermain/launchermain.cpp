// Stand-in for libqvlaunchermain. It runs no application: it does what the
// environment asks, so that tests can see what the launcher hands over and
// steer what comes back.
//
//   STANDIN_LAUNCHERMAIN_RECORD  file to write the received vector to, each
//                                element followed by one zero byte
//   STANDIN_LAUNCHERMAIN_SAY     a line to write to standard output, as the
//                                application would
//   STANDIN_LAUNCHERMAIN_THROW   "std": throw std::runtime_error carrying
//                                STANDIN_LAUNCHERMAIN_MESSAGE; "other": throw
//                                a value outside the standard exception family
//   STANDIN_LAUNCHERMAIN_STATUS  the exit status to return (decimal, default 0)
#include "qvlaunchermain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// Thrown for "other": deliberately not derived from std::exception.
struct StandinFailure {
  int code;
};

void record(const char *file, const std::vector<std::string> &args) {
  std::FILE *f = std::fopen(file, "wb");
  if (f == nullptr) {
    std::perror(file);
    std::abort();
  }
  for (const std::string &a : args) {
    std::fwrite(a.data(), 1, a.size(), f);
    std::fputc('\0', f);
  }
  if (std::fclose(f) != 0) {
    std::perror(file);
    std::abort();
  }
}

}  // namespace

int standaloneMain(const std::vector<std::string> &args) {
  if (const char *file = std::getenv("STANDIN_LAUNCHERMAIN_RECORD")) record(file, args);
  if (const char *say = std::getenv("STANDIN_LAUNCHERMAIN_SAY")) {
    std::fputs(say, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  if (const char *kind = std::getenv("STANDIN_LAUNCHERMAIN_THROW")) {
    if (std::strcmp(kind, "std") == 0) {
      const char *message = std::getenv("STANDIN_LAUNCHERMAIN_MESSAGE");
      throw std::runtime_error(message != nullptr ? message : "standaloneMain failed");
    }
    if (std::strcmp(kind, "other") == 0) throw StandinFailure{1};
  }
  const char *status = std::getenv("STANDIN_LAUNCHERMAIN_STATUS");
  return status != nullptr ? static_cast<int>(std::strtol(status, nullptr, 10)) : 0;
}
