// A fresh directory per test, removed with everything in it afterwards.
#ifndef VOLACCESS_TESTS_TOOLS_SCRATCH_DIR_H
#define VOLACCESS_TESTS_TOOLS_SCRATCH_DIR_H

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vacli_test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/volaccess-tools-test.XXXXXX";
    path_ = ::mkdtemp(&pattern[0]);
  }
  ~ScratchDir() {
    for (const std::string &name : entries()) ::unlink((path_ + "/" + name).c_str());
    ::rmdir(path_.c_str());
  }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

  // Names in the directory, hidden ones included.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(path_.c_str())) {
      while (dirent *e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }

  void write(const std::string &name, const std::vector<unsigned char> &bytes) const {
    std::ofstream(file(name), std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<unsigned char> read(const std::string &name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

}  // namespace vacli_test

#endif
