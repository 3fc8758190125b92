// File descriptors owned by one object, and the few file operations the
// program needs, each failing with an error that names the file.
#ifndef VOLACCESS_FORMATS_UNIQUE_FD_H
#define VOLACCESS_FORMATS_UNIQUE_FD_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vaeng {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept;
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset();

 private:
  int fd_ = -1;
};

// Opens an existing regular file for reading; a missing or unreadable
// file, a directory or a device is an error naming `path`.
UniqueFd open_regular_file(const std::string &path);
// The same, but pipes and devices are accepted too, for text read in
// sequence (as from "--points <(command)").
UniqueFd open_text_file(const std::string &path);

// A new empty read-write file with no name anywhere (a memory file, or an
// unlinked temporary), gone when its last descriptor closes.
UniqueFd make_anonymous_file(const std::string &what);

// Forbids an anonymous file from ever shrinking, so that a mapping of it
// can never fault; false when it cannot be sealed (a temporary file made
// where memory files are not available).
bool seal_against_shrinking(int fd);

// The name through which this process reaches an open descriptor.
std::string descriptor_path(int fd);

uint64_t file_size(int fd, const std::string &what);

// Reads up to n bytes from `offset`; returns how many there were.
std::size_t read_at(int fd, void *buffer, std::size_t n, uint64_t offset, const std::string &what);

void write_all(int fd, const void *bytes, std::size_t n, const std::string &what);

}  // namespace vaeng

#endif
