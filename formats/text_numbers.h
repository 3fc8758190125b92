// Numbers read from text: strict, in the C locale, whole token or error.
#ifndef VOLACCESS_FORMATS_TEXT_NUMBERS_H
#define VOLACCESS_FORMATS_TEXT_NUMBERS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vaeng {

// The double a whole token spells ("nan" and "inf" included), else none.
std::optional<double> to_double(const std::string &token);
// The integer a whole token spells, else none (also when out of range).
std::optional<int64_t> to_integer(const std::string &token);

// The tokens of a line, separated by blanks, tabs or commas. A comma
// with no token before it (since the start or the last comma), or none
// after it, marks an empty field: an empty string.
std::vector<std::string> split_fields(const std::string &line);

// The shortest text that reads back to the same double: exact, and
// readable for the round numbers headers usually hold.
std::string shortest_text(double v);

bool ends_with(const std::string &text, const std::string &tail);

// True for a line with nothing but blanks, or whose first non-blank is '#'.
bool is_blank_or_comment(const std::string &line);

}  // namespace vaeng

#endif
