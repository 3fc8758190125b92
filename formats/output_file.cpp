#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "errors.h"
#include "fault_guard.h"

namespace vaeng {

namespace {

std::string directory_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What open(2) with mode 0666 gives a new file under the umask.
mode_t usual_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

UniqueFd create_hidden_beside(const std::string &path, std::string *name) {
  // "." + name + ".XXXXXX" must stay within a file name's 255 bytes.
  constexpr std::size_t kNameMax = 255;
  constexpr std::size_t kAdded = 8;
  const std::string base = base_of(path).substr(0, kNameMax - kAdded);
  std::string pattern = directory_of(path) + "/." + base + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  UniqueFd fd(::mkostemp(buffer.data(), O_CLOEXEC));
  if (!fd.valid()) fail_system(path, "cannot create", errno);
  *name = buffer.data();
  // mkostemp gives 0600; the output gets what any new file would.
  if (::fchmod(fd.get(), usual_mode()) != 0) {
    ::unlink(name->c_str());
    fail_system(path, "cannot create", errno);
  }
  return fd;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/') fail(path_.empty() ? "''" : path_, "not a file name");
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail(path_, "is a directory");
    // A FIFO or a device such as /dev/null is written into as it is, never
    // replaced by a regular file.
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
      fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
      if (!fd_.valid()) fail_system(path_, "cannot open", errno);
      streaming_ = true;
      return;
    }
    if (!S_ISREG(st.st_mode)) fail(path_, "is neither a regular file, a FIFO nor a character device");
  }
  fd_ = UniqueFd(::open(directory_of(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (fd_.valid()) {
    // O_TMPFILE ignores the umask only partly; give the usual permissions.
    ::fchmod(fd_.get(), usual_mode());
    return;
  }
  if (errno == ENOENT || errno == EACCES || errno == ENOTDIR || errno == EROFS)
    fail_system(path_, "cannot create", errno);
  fd_ = create_hidden_beside(path_, &temporary_);
  // A program ended by a fault or a signal runs no destructor.
  abandon_on_fault(temporary_);
}

OutputFile::~OutputFile() {
  if (committed_ || temporary_.empty()) return;
  keep_on_fault();
  ::unlink(temporary_.c_str());
}

void OutputFile::commit() {
  if (streaming_) {
    committed_ = true;
    if (::close(fd_.release()) != 0) fail_system(path_, "cannot write", errno);
    return;
  }
  if (::fsync(fd_.get()) != 0 && errno != EINVAL) fail_system(path_, "cannot write", errno);
  if (temporary_.empty()) {
    // Give the unnamed file a hidden name first: linkat cannot replace an
    // existing output, rename can.
    std::string hidden;
    create_hidden_beside(path_, &hidden);
    ::unlink(hidden.c_str());
    if (::linkat(AT_FDCWD, descriptor_path(fd_.get()).c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0)
      fail_system(path_, "cannot create", errno);
    temporary_ = hidden;
    abandon_on_fault(temporary_);
  }
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail_system(path_, "cannot create", errno);
  keep_on_fault();
  committed_ = true;
  fd_.reset();
}

}  // namespace vaeng
