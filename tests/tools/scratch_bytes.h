// The shared scratch folder (tests/support) with files read and written as
// bytes, as the format tests hold them.
#ifndef VOLACCESS_TESTS_TOOLS_SCRATCH_BYTES_H
#define VOLACCESS_TESTS_TOOLS_SCRATCH_BYTES_H

#include <string>
#include <vector>

#include "scratch_dir.h"

namespace vacli_test {

class ScratchDir : public test_support::ScratchDir {
 public:
  ScratchDir() : test_support::ScratchDir("volaccess-tools-test") {}

  std::string file(const std::string &name) const { return *this / name; }
  // Names in the folder, hidden ones included, sorted.
  std::vector<std::string> entries() const { return test_support::entries(path()); }

  void write(const std::string &name, const std::vector<unsigned char> &bytes) const {
    test_support::write_file(file(name), std::string(bytes.begin(), bytes.end()));
  }

  std::vector<unsigned char> read(const std::string &name) const {
    const std::string bytes = test_support::read_file(file(name)).value_or("");
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
  }
};

}  // namespace vacli_test

#endif
