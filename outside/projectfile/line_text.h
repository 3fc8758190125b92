// One value per line: backslashes and line breaks are escaped so that a
// value never spans lines.
#ifndef LINE_TEXT_H
#define LINE_TEXT_H

#include <cstdio>
#include <optional>
#include <string>

std::string escape_line(const std::string &value);
// The value back, or nothing when an escape is not "\\" or "\n".
std::optional<std::string> unescape_line(const std::string &text);

// Writes `text` to `path`, replacing the file; throws std::system_error
// naming the path and `what` it is.
void write_text_file(const std::string &path, const std::string &text, const std::string &what);

#endif
