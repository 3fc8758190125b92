// The path toolkit: the launcher's own executable among the loaded images,
// the directory part of a path, joining, and directory listings. Paths are
// byte strings with "/" as the only separator; nothing is resolved or
// normalised.
#include <dirent.h>

#include <boost/algorithm/string/trim.hpp>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <stdexcept>

#include "launcher.h"
#include "platform.h"
#include "trace.h"

namespace {

// One loaded image: the loader's name for it (borrowed for one lookup) and
// the address of its header.
struct module_info {
  module_info(const char *image_name, uintptr_t header_address)
      : name(image_name), header(header_address) {}
  virtual ~module_info() = default;
  module_info(const module_info &) = default;
  module_info &operator=(const module_info &) = default;

  const char *name;
  uintptr_t header;
};

struct ByHeader {
  bool operator()(const module_info &a, const module_info &b) const { return a.header < b.header; }
};

// Trims white space of the global locale at both ends.
std::string trimmed(const char *piece) { return boost::algorithm::trim_copy(std::string(piece)); }

}  // namespace

void dummyFunc() {}

bool getCurrentModulePath(void *address, char *buffer, unsigned long length) {
  std::memset(buffer, 0, length);
  const std::vector<launcher_platform::LoadedImage> images = launcher_platform::loaded_images();
  std::set<module_info, ByHeader> modules;
  // insert keeps the first image of each header address.
  for (const launcher_platform::LoadedImage &image : images)
    modules.insert(module_info(image.name.c_str(), reinterpret_cast<uintptr_t>(image.header)));

  auto at_or_above =
      modules.lower_bound(module_info(nullptr, reinterpret_cast<uintptr_t>(address)));
  if (at_or_above == modules.end() || at_or_above == modules.begin()) return false;
  const module_info &holder = *std::prev(at_or_above);
  size_t size = std::strlen(holder.name) + 1;
  // A name that does not fit, terminating zero included, is no answer.
  if (size > length) return false;
  std::memcpy(buffer, holder.name, size);
  return true;
}

std::string getApplicationFullPath(const std::string &, OutputManager &out) {
  char buffer[2049];
  std::memset(buffer, 0, sizeof buffer);
  void *inside_launcher = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(&dummyFunc));
  bool found = getCurrentModulePath(inside_launcher, buffer, sizeof buffer);
  trace_line(out, "Module path returned from GetCurrentModulePath=", buffer);
  if (!found) throw std::runtime_error("Could not find the current executable file.");
  if (out.verbose) out.outputStatus(buffer, "Status");
  return trimmed(buffer);
}

std::string get_AppDir(std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

std::string join_paths(int count, const char *first, ...) {
  std::string result = trimmed(first);
  va_list pieces;
  va_start(pieces, first);
  for (int i = 1; i < count; ++i) {
    std::string piece = trimmed(va_arg(pieces, const char *));
    bool open_end = result.empty() || result.back() == '/';
    bool leading_slash = !piece.empty() && piece.front() == '/';
    if (open_end && leading_slash)
      result.append(piece, 1, std::string::npos);
    else if (open_end || leading_slash)
      result += piece;
    else
      result += '/' + piece;
  }
  va_end(pieces);
  return result;
}

bool get_filelist(const std::string &dir, std::vector<std::string> &names) {
  DIR *listing = opendir(dir.c_str());
  if (listing == nullptr) return false;
  while (const dirent *entry = readdir(listing)) names.emplace_back(entry->d_name);
  closedir(listing);
  return true;
}

bool match_file_in_dir(const char *dir, const char *part1, const char *part2) {
  std::vector<std::string> names;
  if (!get_filelist(dir, names)) return false;
  for (const std::string &name : names) {
    if (part1[0] != '\0' && name.find(part1) == std::string::npos) continue;
    if (part2[0] == '\0' || name.find(part2) != std::string::npos) return true;
  }
  return false;
}
