#include "line_text.h"

#include <cerrno>
#include <memory>
#include <system_error>

std::string escape_line(const std::string &value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::optional<std::string> unescape_line(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    if (text[i] == '\\')
      out += '\\';
    else if (text[i] == 'n')
      out += '\n';
    else
      return std::nullopt;
  }
  return out;
}

void write_text_file(const std::string &path, const std::string &text, const std::string &what) {
  const auto fail = [&] {
    throw std::system_error(errno, std::generic_category(), "Cannot write the " + what + " '" + path + "'");
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) fail();
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) fail();
  if (std::fclose(file.release()) != 0) fail();
}
