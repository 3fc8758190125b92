#include "project_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "fl/i18n.h"
#include "line_text.h"

namespace {

std::string line(const std::string &key, const std::string &value) { return key + "=" + escape_line(value) + "\n"; }

std::string utf8(const char16_t *text, std::size_t max) {
  std::size_t n = 0;
  while (n < max && text[n] != 0) ++n;
  return fl::i18n::to_string(fl::ustring(text, n));
}

std::string project_text(int argc, const char16_t *const *argv, const PathManagement::IPath &current_folder,
                         bool verbose, const std::string &name, bool temporary, const fl::ustring &requirements_dir,
                         const fl::ustring &output_folder, int format_version) {
  std::string text = line("format", std::to_string(format_version));
  text += line("name", name);
  text += line("verbose", verbose ? "1" : "0");
  text += line("temporary", temporary ? "1" : "0");
  text += line("current_folder", fl::i18n::to_string(current_folder.native()));
  text += line("output_folder", fl::i18n::to_string(output_folder));
  text += line("requirements", fl::i18n::to_string(requirements_dir));
  for (int i = 0; i < argc; ++i) text += line("argument", fl::i18n::to_string(argv[i]));
  return text;
}

[[noreturn]] void malformed(const std::string &path, const std::string &why) {
  throw project_file_error(false, "The project file '" + path + "' is malformed: " + why);
}

bool is_plain_file_name(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool parse_mark(const std::string &value, bool &mark) {
  if (value != "0" && value != "1") return false;
  mark = value == "1";
  return true;
}

// Stores one "key=value" line; false when the key is unknown or the
// value does not suit it.
bool store(ProjectDescription &project, const std::string &key, const std::string &value) {
  if (key == "format") {
    project.format = value == std::to_string(kProjectFileFormat) ? kProjectFileFormat : -1;
    return project.format == kProjectFileFormat;
  }
  if (key == "verbose") return parse_mark(value, project.verbose);
  if (key == "temporary") return parse_mark(value, project.temporary);
  if (key == "argument") {
    project.arguments.push_back(value);
    return true;
  }
  std::string *text = key == "name"             ? &project.name
                      : key == "current_folder" ? &project.current_folder
                      : key == "output_folder"  ? &project.output_folder
                      : key == "requirements"   ? &project.requirements_dir
                                                : nullptr;
  if (!text) return false;
  *text = value;
  return true;
}

}  // namespace

void com_create_temporary_project_file(error_context *errors, const char *project_file, int argc,
                                       const char16_t *const *argv, const PathManagement::IPath &current_folder,
                                       bool verbose, const char16_t *name, int name_length, bool temporary,
                                       const fl::ustring &requirements_dir, const fl::ustring &output_folder,
                                       int format_version) {
  if (!project_file || argc < 0 || (argc > 0 && !argv) || name_length < 0 || (name_length > 0 && !name))
    throw std::invalid_argument("com_create_temporary_project_file: bad path, argument count or name");
  const std::string app = name_length > 0 ? utf8(name, static_cast<std::size_t>(name_length)) : std::string();
  try {
    write_text_file(project_file,
                    project_text(argc, argv, current_folder, verbose, app, temporary, requirements_dir, output_folder,
                                 format_version),
                    "project file");
  } catch (const std::exception &e) {
    if (errors) errors->message = e.what();
    throw;
  }
}

ProjectDescription com_read_project_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw project_file_error(true, "The project file '" + path + "' cannot be read: " + std::strerror(errno));
  ProjectDescription project;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) malformed(path, "line " + std::to_string(number) + " has no '='");
    const std::string key = text.substr(0, eq);
    const auto value = unescape_line(text.substr(eq + 1));
    if (!value || !store(project, key, *value))
      malformed(path, "line " + std::to_string(number) + " has a bad entry '" + text + "'");
  }
  if (project.format != kProjectFileFormat) malformed(path, "it does not give format 1");
  if (!is_plain_file_name(project.name))
    malformed(path, "the application name '" + project.name + "' is not a file name");
  if (project.current_folder.empty()) malformed(path, "it gives no current folder");
  if (project.requirements_dir.empty()) malformed(path, "it gives no requirements folder");
  return project;
}
