#include "unique_fd.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "errors.h"

namespace vaeng {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

// Images are opened without waiting, so that a FIFO named as an image is
// refused at once; text is read like any Unix tool reads it: a FIFO is
// opened blocking, which waits for its writer instead of meeting an
// immediate end of input.
UniqueFd open_for_reading(const std::string &path, bool regular_only) {
  const int wait = regular_only ? O_NONBLOCK : 0;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | wait));
  if (!fd.valid()) fail_system(path, "cannot open", errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) fail_system(path, "cannot read", errno);
  if (S_ISDIR(st.st_mode)) fail(path, "is a directory");
  if (regular_only && !S_ISREG(st.st_mode)) fail(path, "is not a regular file");
  if (wait) ::fcntl(fd.get(), F_SETFL, 0);
  return fd;
}

}  // namespace

UniqueFd open_regular_file(const std::string &path) { return open_for_reading(path, true); }

UniqueFd open_text_file(const std::string &path) { return open_for_reading(path, false); }

UniqueFd make_anonymous_file(const std::string &what) {
  UniqueFd fd(::memfd_create("volaccess-image", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (fd.valid()) return fd;
  const char *tmp = std::getenv("TMPDIR");
  const std::string dir = tmp && *tmp ? tmp : "/tmp";
  fd = UniqueFd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!fd.valid()) fail_system(what, "cannot create a temporary file for the decompressed image", errno);
  return fd;
}

bool seal_against_shrinking(int fd) { return ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) == 0; }

std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

uint64_t file_size(int fd, const std::string &what) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail_system(what, "cannot read", errno);
  return static_cast<uint64_t>(st.st_size);
}

std::size_t read_at(int fd, void *buffer, std::size_t n, uint64_t offset, const std::string &what) {
  std::size_t done = 0;
  auto *bytes = static_cast<unsigned char *>(buffer);
  while (done < n) {
    const ssize_t got = ::pread(fd, bytes + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_system(what, "cannot read", errno);
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void write_all(int fd, const void *bytes, std::size_t n, const std::string &what) {
  const auto *p = static_cast<const unsigned char *>(bytes);
  while (n > 0) {
    const ssize_t put = ::write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) fail_system(what, "cannot write", put < 0 ? errno : ENOSPC);
    p += put;
    n -= static_cast<std::size_t>(put);
  }
}

}  // namespace vaeng
