// The temporary project file that connects the requirements analysis to
// packaging: UTF-8 lines "key=value", in which a backslash is written "\\"
// and a line break "\n".
#ifndef PROJECT_FILE_H
#define PROJECT_FILE_H

#include <stdexcept>
#include <string>
#include <vector>

#include "basic_contexts.h"
#include "dispatcher.h"
#include "fl/ustring.h"

// The only layout of the project file there is so far.
constexpr int kProjectFileFormat = 1;

// A fresh path under the temporary folder ($TMPDIR, else "/tmp") that no
// file or directory uses yet. Nothing is created.
fl::ustring com_ext_generate_unique_dir_name();

// Writes the project file at `project_file` (replacing one that exists):
// the application `name` (at most `name_length` units, up to the first
// zero), the `argc` arguments of `argv`, the host's current folder, the
// verbose and temporary marks, the requirements folder, the output folder
// (empty: the current folder) and `format_version`. On failure records
// the reason in `errors` (when given) and throws std::system_error naming
// the path; bad counts throw std::invalid_argument.
void com_create_temporary_project_file(error_context *errors, const char *project_file, int argc,
                                       const char16_t *const *argv, const PathManagement::IPath &current_folder,
                                       bool verbose, const char16_t *name, int name_length, bool temporary,
                                       const fl::ustring &requirements_dir, const fl::ustring &output_folder,
                                       int format_version);

// A project file as read back, every text in UTF-8.
struct ProjectDescription {
  int format = 0;
  std::string name;
  bool verbose = false;
  bool temporary = false;
  std::string current_folder;
  std::string output_folder;
  std::string requirements_dir;
  std::vector<std::string> arguments;
};

// Why a project file could not be read.
class project_file_error : public std::runtime_error {
 public:
  project_file_error(bool missing, const std::string &message) : std::runtime_error(message), missing_(missing) {}
  // True when the file could not be opened; false when its content is bad.
  bool missing() const noexcept { return missing_; }

 private:
  bool missing_;
};

// Reads and checks a project file: every line "key=value" with a known
// key, format 1, a name that is a plain file name, marks "0" or "1", and a
// current folder and a requirements folder. Throws project_file_error.
ProjectDescription com_read_project_file(const std::string &path);

#endif
