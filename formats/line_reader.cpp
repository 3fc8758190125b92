#include "line_reader.h"

#include <unistd.h>

#include <cerrno>

#include "errors.h"

namespace vaeng {

namespace {
// A longer line is no point line; refusing it keeps memory bounded.
constexpr std::size_t kMaxLine = 1 << 20;
constexpr std::size_t kBlock = 1 << 16;
}  // namespace

LineReader::LineReader(const std::string &path) {
  if (path == "-") {
    name_ = "<stdin>";
    fd_ = 0;
    return;
  }
  name_ = path;
  owned_ = open_text_file(path);
  fd_ = owned_.get();
}

bool LineReader::fill() {
  if (at_end_) return false;
  buffer_.erase(0, start_);
  start_ = 0;
  const std::size_t old = buffer_.size();
  buffer_.resize(old + kBlock);
  ssize_t got;
  do {
    got = ::read(fd_, &buffer_[old], kBlock);
  } while (got < 0 && errno == EINTR);
  if (got < 0) fail_system(name_, "cannot read", errno);
  buffer_.resize(old + static_cast<std::size_t>(got));
  if (got == 0) at_end_ = true;
  return got > 0;
}

bool LineReader::next(std::string *line) {
  if (!read_line(line)) return false;
  // Editors may start a UTF-8 text with a byte-order mark; it is no data.
  static const char kByteOrderMark[] = "\xEF\xBB\xBF";
  if (line_number_ == 1 && line->compare(0, 3, kByteOrderMark) == 0) line->erase(0, 3);
  return true;
}

bool LineReader::read_line(std::string *line) {
  for (;;) {
    const std::size_t newline = buffer_.find('\n', start_);
    if (newline != std::string::npos) {
      line->assign(buffer_, start_, newline - start_);
      start_ = newline + 1;
      ++line_number_;
      return true;
    }
    if (buffer_.size() - start_ > kMaxLine)
      fail(name_ + ":" + std::to_string(line_number_ + 1), "line longer than 1 MiB");
    if (!fill()) {
      if (start_ >= buffer_.size()) return false;
      line->assign(buffer_, start_, std::string::npos);
      start_ = buffer_.size();
      ++line_number_;
      return true;
    }
  }
}

}  // namespace vaeng
