#include "cli_error.h"

#include <cstring>

namespace vacli {

void fail(const std::string &what, const std::string &reason) { throw CliError(what + ": " + reason); }

std::string system_reason(int err) { return std::strerror(err); }

}  // namespace vacli
