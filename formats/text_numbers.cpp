#include "text_numbers.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <locale.h>

namespace vaeng {

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// strtod honours the locale's decimal point; numbers in files do not.
locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
  return loc;
}

}  // namespace

std::optional<double> to_double(const std::string &token) {
  if (token.empty() || token.find('\0') != std::string::npos) return std::nullopt;
  if (token[0] == ' ' || token[0] == '\t' || token[0] == '\n') return std::nullopt;
  char *end = nullptr;
  const double v = strtod_l(token.c_str(), &end, c_locale());
  if (end != token.c_str() + token.size()) return std::nullopt;
  return v;
}

std::optional<int64_t> to_integer(const std::string &token) {
  if (token.empty() || token.find('\0') != std::string::npos) return std::nullopt;
  if (!(token[0] == '-' || token[0] == '+' || (token[0] >= '0' && token[0] <= '9'))) return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(token.c_str(), &end, 10);
  if (errno == ERANGE || end != token.c_str() + token.size()) return std::nullopt;
  return static_cast<int64_t>(v);
}

std::vector<std::string> split_fields(const std::string &line) {
  std::vector<std::string> fields;
  // A comma ends a field: one with nothing before it, since the start or
  // the last comma, is an empty field, and so is the end after a comma.
  bool field_since_comma = false;
  bool after_comma = false;
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_separator(line[i]) && line[i] != ',') {
      ++i;
      continue;
    }
    if (line[i] == ',') {
      if (!field_since_comma) fields.emplace_back();
      field_since_comma = false;
      after_comma = true;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < line.size() && !is_separator(line[j])) ++j;
    fields.push_back(line.substr(i, j - i));
    field_since_comma = true;
    after_comma = false;
    i = j;
  }
  if (after_comma) fields.emplace_back();
  return fields;
}

std::string shortest_text(double v) {
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

bool ends_with(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_blank_or_comment(const std::string &line) {
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r') continue;
    return c == '#';
  }
  return true;
}

}  // namespace vaeng
