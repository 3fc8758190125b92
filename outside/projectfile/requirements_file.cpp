#include "requirements_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fl/i18n.h"
#include "line_text.h"
#include "project_file.h"

void com_write_requirements(const fl::ustring &dir, const Requirements &requirements) {
  const std::string folder = fl::i18n::to_string(dir);
  std::filesystem::create_directories(folder);
  std::string text = "program " + escape_line(requirements.program) + "\n";
  for (const std::string &a : requirements.arguments) text += "argument " + escape_line(a) + "\n";
  for (const std::string &s : requirements.sources) text += "source " + escape_line(s) + "\n";
  write_text_file(folder + "/" + kRequirementsFileName, text, "requirements file");
}

Requirements com_read_requirements(const std::string &dir) {
  const std::string path = dir + "/" + kRequirementsFileName;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw project_file_error(true, "The requirements file '" + path + "' cannot be read: " + std::strerror(errno));
  Requirements requirements;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    const std::size_t space = text.find(' ');
    const std::string kind = text.substr(0, space);
    const auto value = space == std::string::npos ? std::nullopt : unescape_line(text.substr(space + 1));
    if (value && kind == "program")
      requirements.program = *value;
    else if (value && kind == "argument")
      requirements.arguments.push_back(*value);
    else if (value && kind == "source")
      requirements.sources.push_back(*value);
    else
      throw project_file_error(false, "The requirements file '" + path + "' is malformed: line " +
                                          std::to_string(number) + " '" + text + "'");
  }
  return requirements;
}
