// An output file that appears under its name only when complete: it is
// written unnamed (or under a hidden temporary name where the file system
// cannot do that) and renamed at the end, so a failed or interrupted run
// never leaves a partial file under the requested name. An existing FIFO
// or character device is written into directly instead.
#ifndef VOLACCESS_FORMATS_OUTPUT_FILE_H
#define VOLACCESS_FORMATS_OUTPUT_FILE_H

#include <string>

#include "unique_fd.h"

namespace vaeng {

class OutputFile {
 public:
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  int fd() const { return fd_.get(); }
  const std::string &path() const { return path_; }
  // Flushes the file to disk and gives it its name.
  void commit();

 private:
  std::string path_;
  std::string temporary_;  // empty while the file has no name
  UniqueFd fd_;
  bool committed_ = false;
  bool streaming_ = false;  // a FIFO or character device, written in place
};

// A new empty file under a hidden name beside `path` (cut to fit a file
// name's 255 bytes), with the mode the umask gives; *name is its path.
UniqueFd create_hidden_beside(const std::string &path, std::string *name);

}  // namespace vaeng

#endif
