// Linux forms of the launcher's platform operations: dl_iterate_phdr for the
// image list, HOME and the password database, POSIX reads, and iconv.
#include "platform.h"

#include <fcntl.h>
#include <iconv.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace launcher_platform {
namespace {

// The main program's path. The loader names it with an empty string.
std::string executable_path() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int collect_image(dl_phdr_info *info, size_t, void *data) {
  auto *images = static_cast<std::vector<LoadedImage> *>(data);
  // The header sits where file offset 0 of the lowest loadable segment lands.
  uintptr_t lowest = std::numeric_limits<uintptr_t>::max();
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr) &ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t start = static_cast<uintptr_t>(info->dlpi_addr + ph.p_vaddr - ph.p_offset);
    if (start < lowest) lowest = start;
  }
  if (lowest == std::numeric_limits<uintptr_t>::max()) return 0;
  std::string name = images->empty()
                         ? executable_path()
                         : std::string(info->dlpi_name != nullptr ? info->dlpi_name : "");
  images->push_back({std::move(name), reinterpret_cast<const void *>(lowest)});
  return 0;
}

std::optional<std::string> convert(const std::string &utf8, const char *encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in = utf8;
  // Both targets are single-byte encodings: never more bytes out than in.
  std::string out(in.size(), '\0');
  char *in_ptr = in.data();
  size_t in_left = in.size();
  char *out_ptr = out.data();
  size_t out_left = out.size();
  size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::vector<LoadedImage> loaded_images() {
  std::vector<LoadedImage> images;
  dl_iterate_phdr(collect_image, &images);
  return images;
}

std::optional<std::string> home_directory() {
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home);
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(hint > 0 ? static_cast<size_t>(hint) : 1024, '\0');
  for (;;) {
    passwd entry{};
    passwd *found = nullptr;
    int rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0')
      return std::nullopt;
    return std::string(found->pw_dir);
  }
}

std::optional<std::string> read_whole_file(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string content;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return std::nullopt;
    }
    content.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

std::optional<std::string> to_iso_latin1(const std::string &utf8) {
  return convert(utf8, "ISO-8859-1");
}

std::optional<std::string> to_mac_roman(const std::string &utf8) {
  return convert(utf8, "MACINTOSH");
}

}  // namespace launcher_platform
