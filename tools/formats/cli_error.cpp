#include "cli_error.h"

#include <cstring>

namespace vacli {

void fail(const std::string &what, const std::string &reason) { throw CliError(what + ": " + reason); }

void fail_system(const std::string &what, const std::string &action, int err) {
  throw FileError(what + ": " + action + ": " + system_reason(err), err);
}

std::string system_reason(int err) { return std::strerror(err); }

}  // namespace vacli
