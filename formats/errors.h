// The failures of the formats and the engine: a bad input or an
// operation that could not be done, told as one line that names the
// offending input and the reason. Each front door turns them into its own
// (the program's exit status and line, Python's exceptions).
#ifndef VOLACCESS_FORMATS_ERRORS_H
#define VOLACCESS_FORMATS_ERRORS_H

#include <stdexcept>
#include <string>

namespace vaeng {

// Messages carry file names and tokens of user data: they are kept
// printable from the start (see printable()), so that no terminal is sent
// control characters and a NUL does not end the message early.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string &message);
};

// A bad value of an argument or option, as opposed to a bad file; the
// program exits with status 2, Python raises ValueError.
class ArgumentError : public Error {
 public:
  using Error::Error;
};

// A file operation the system refused; keeps the system's error number
// so that callers can tell a missing file from a forbidden one.
class FileError : public Error {
 public:
  FileError(const std::string &message, int error_number) : Error(message), error_number_(error_number) {}
  int error_number() const { return error_number_; }

 private:
  int error_number_;
};

// Throws Error("<what>: <reason>").
[[noreturn]] void fail(const std::string &what, const std::string &reason);

// Throws FileError("<what>: <action>: <system reason>", err).
[[noreturn]] void fail_system(const std::string &what, const std::string &action, int err);

// User data as a message may show it: control characters (escape
// sequences that retitle or clear a terminal, NUL), the C1 controls and
// bytes that are not UTF-8 become \xNN; everything else is kept.
std::string printable(const std::string &text);

// A token of user data cut after kQuotedLength bytes (at a character
// boundary) with "...": a 900 kB token is no message. quoted() also puts
// it in single quotes.
constexpr std::size_t kQuotedLength = 64;
std::string shortened(const std::string &token);
std::string quoted(const std::string &token);

// The reason text of errno value `err`.
std::string system_reason(int err);

}  // namespace vaeng

#endif
