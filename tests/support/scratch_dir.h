// Scratch folders and files for the tests of every subsystem.
#ifndef VOLACCESS_TESTS_SUPPORT_SCRATCH_DIR_H
#define VOLACCESS_TESTS_SUPPORT_SCRATCH_DIR_H

#include <optional>
#include <string>
#include <vector>

namespace test_support {

// Where scratch folders go: $TMPDIR, or /tmp.
std::string temp_folder();

// A fresh folder in temp_folder() named `prefix` and six random
// characters: mode 0755, its real path (no symbolic links on the way),
// removed with everything in it when the object dies.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string &prefix = "volaccess-test");
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates the folder and its parents (mode 0755).
void make_dirs(const std::string &path);
// Writes `bytes` to `path`, creating its parent folders.
void write_file(const std::string &path, const std::string &bytes);
// The whole file, or none when it cannot be read.
std::optional<std::string> read_file(const std::string &path);
// Names in a folder, hidden ones included, sorted; empty when it does not exist.
std::vector<std::string> entries(const std::string &dir);

}  // namespace test_support

#endif
