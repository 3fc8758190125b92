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

// A file operation the system refused; keeps the system's error number
// so that callers can tell a missing file from a forbidden one.
class FileError : public CliError {
 public:
  FileError(const std::string &message, int error_number) : CliError(message), error_number_(error_number) {}
  int error_number() const { return error_number_; }

 private:
  int error_number_;
};

// Throws CliError("<what>: <reason>").
[[noreturn]] void fail(const std::string &what, const std::string &reason);

// Throws FileError("<what>: <action>: <system reason>", err).
[[noreturn]] void fail_system(const std::string &what, const std::string &action, int err);

// The reason text of errno value `err`.
std::string system_reason(int err);

}  // namespace vacli

#endif
