// What the requirements analysis found: the file "requirements.txt" in the
// requirements folder, lines "program P", "argument A" and "source S",
// escaped like the project file.
#ifndef REQUIREMENTS_FILE_H
#define REQUIREMENTS_FILE_H

#include <string>
#include <vector>

#include "fl/ustring.h"

constexpr const char *kRequirementsFileName = "requirements.txt";

// Every text in UTF-8.
struct Requirements {
  std::string program;
  std::vector<std::string> arguments;  // after the program name
  std::vector<std::string> sources;    // absolute paths
};

// Creates `dir` (with its parents) and writes the requirements file into
// it. Throws std::filesystem::filesystem_error or std::system_error naming
// the path.
void com_write_requirements(const fl::ustring &dir, const Requirements &requirements);

// Reads the requirements file of `dir`. Throws project_file_error
// (project_file.h) when it is missing or malformed.
Requirements com_read_requirements(const std::string &dir);

#endif
