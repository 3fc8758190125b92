#include "errors.h"

#include <cstdio>
#include <cstring>

namespace vaeng {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 character at `i` that is no control
// character, or 0.
std::size_t printable_character(const std::string &text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c >= 0x20 && c < 0x7F) return 1;
  std::size_t length = 0;
  if (c >= 0xC2 && c <= 0xDF)
    length = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    length = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    length = 4;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if (!is_continuation(static_cast<unsigned char>(text[i + k]))) return 0;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  if (c == 0xC2 && second < 0xA0) return 0;   // C1 controls
  if (c == 0xE0 && second < 0xA0) return 0;   // overlong
  if (c == 0xED && second >= 0xA0) return 0;  // surrogates
  if (c == 0xF0 && second < 0x90) return 0;   // overlong
  if (c == 0xF4 && second >= 0x90) return 0;  // beyond U+10FFFF
  return length;
}

}  // namespace

std::string printable(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = printable_character(text, i);
    if (length > 0) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
    out += escaped;
    ++i;
  }
  return out;
}

Error::Error(const std::string &message) : std::runtime_error(printable(message)) {}

std::string shortened(const std::string &token) {
  if (token.size() <= kQuotedLength) return token;
  std::size_t cut = kQuotedLength;
  while (cut > 0 && is_continuation(static_cast<unsigned char>(token[cut]))) --cut;
  return token.substr(0, cut) + "...";
}

std::string quoted(const std::string &token) { return "'" + shortened(token) + "'"; }

void fail(const std::string &what, const std::string &reason) { throw Error(what + ": " + reason); }

void fail_system(const std::string &what, const std::string &action, int err) {
  throw FileError(what + ": " + action + ": " + system_reason(err), err);
}

std::string system_reason(int err) { return std::strerror(err); }

}  // namespace vaeng
