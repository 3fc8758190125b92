// Lines of a text file or of standard input, read in blocks.
#ifndef VOLACCESS_FORMATS_LINE_READER_H
#define VOLACCESS_FORMATS_LINE_READER_H

#include <cstddef>
#include <string>

#include "unique_fd.h"

namespace vaeng {

class LineReader {
 public:
  // "-" reads standard input, which the reader then names "<stdin>".
  explicit LineReader(const std::string &path);

  // The next line without its end-of-line (nor, on the first line, a
  // UTF-8 byte-order mark); false at the end of input.
  bool next(std::string *line);
  // Number of the line last returned, from 1.
  long line_number() const { return line_number_; }
  const std::string &name() const { return name_; }

 private:
  bool fill();
  bool read_line(std::string *line);

  UniqueFd owned_;
  int fd_ = 0;
  std::string name_;
  std::string buffer_;
  std::size_t start_ = 0;
  bool at_end_ = false;
  long line_number_ = 0;
};

}  // namespace vaeng

#endif
