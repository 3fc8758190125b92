#include "packaging.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>

#include "deployed_exception.h"
#include "project_file.h"
#include "requirements_file.h"

namespace {

void write(OutputSink sink, const std::string &text) {
  if (sink) sink(text.data(), static_cast<int>(text.size()));
}

ProjectDescription read_project(const char *project_file) {
  try {
    return com_read_project_file(project_file ? project_file : "");
  } catch (const project_file_error &e) {
    throw DeployedException(e.what(), e.missing() ? "PKG_PROJECT_FILE_MISSING" : "PKG_PROJECT_FILE_MALFORMED");
  }
}

Requirements read_requirements(const ProjectDescription &project) {
  try {
    return com_read_requirements(project.requirements_dir);
  } catch (const project_file_error &e) {
    throw DeployedException(e.what(), e.missing() ? "PKG_REQUIREMENTS_MISSING" : "PKG_REQUIREMENTS_MALFORMED");
  }
}

// Each source as "file <path bytes> <content bytes>\n", the path, the content.
std::string package_text(const ProjectDescription &project, const Requirements &requirements) {
  std::string text = "package " + project.name + "\n";
  for (const std::string &source : requirements.sources) {
    std::ifstream in(source, std::ios::binary);
    if (!in) throw DeployedException("The source file '" + source + "' cannot be read", "PKG_SOURCE_MISSING");
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text += "file " + std::to_string(source.size()) + " " + std::to_string(content.size()) + "\n" + source + content;
  }
  return text;
}

void write_package(const std::string &path, const std::string &text) {
  const auto fail = [&] {
    throw std::system_error(errno, std::generic_category(), "Cannot write the package '" + path + "'");
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) fail();
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) fail();
  if (std::fclose(file.release()) != 0) fail();
}

bool exists(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int do_packaging(const char *project_file, bool dry_run, OutputSink output, OutputSink error) {
  const ProjectDescription project = read_project(project_file);
  const Requirements requirements = read_requirements(project);
  const std::string folder = project.output_folder.empty() ? project.current_folder : project.output_folder;
  const std::string package = folder + "/" + project.name + ".pkg";
  if (project.verbose) write(output, "Packaging '" + project.name + "' into '" + package + "'\n");
  const std::string text = package_text(project, requirements);
  if (exists(package)) write(error, "Warning: replacing the package '" + package + "'\n");
  if (dry_run) return 0;
  write_package(package, text);
  if (project.verbose) write(output, "Wrote " + std::to_string(requirements.sources.size()) + " source file(s)\n");
  return 0;
}
