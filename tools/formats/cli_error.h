// The one kind of failure the program reports: a bad input or an
// operation that could not be done, told to the user as one line that
// names the offending input and the reason.
#ifndef VOLACCESS_TOOLS_CLI_ERROR_H
#define VOLACCESS_TOOLS_CLI_ERROR_H

#include <stdexcept>
#include <string>

namespace vacli {

class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A mistake in the command line itself; the program exits with status 2.
class UsageError : public CliError {
 public:
  using CliError::CliError;
};

// Throws CliError("<what>: <reason>").
[[noreturn]] void fail(const std::string &what, const std::string &reason);

// The reason text of errno value `err`.
std::string system_reason(int err);

}  // namespace vacli

#endif
