#include "output_guard.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include "errors.h"
#include "memory_budget.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

uint64_t saturating_product(uint64_t a, uint64_t b) {
  uint64_t p = 0;
  return __builtin_mul_overflow(a, b, &p) ? UINT64_MAX : p;
}

// The folder that will hold `path` (a store's name may end in '/').
std::string folder_of(const std::string &path) {
  const std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  const std::size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool takes_room(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

[[noreturn]] void refuse(const OutputPlace &place, const std::string &problem, const std::string &advice) {
  const std::string what = place.file.empty() ? "the output" : place.file;
  throw ArgumentError(what + ": " + problem + (advice.empty() ? "" : "; " + advice));
}

}  // namespace

uint64_t voxel_bytes(const OutputSize &size) {
  uint64_t bytes = size.value_bytes;
  for (int64_t n : size.shape) bytes = saturating_product(bytes, n > 0 ? static_cast<uint64_t>(n) : 0);
  return bytes;
}

std::string grid_text(const OutputSize &size) {
  std::string text;
  for (int64_t n : size.shape) text += (text.empty() ? "" : "x") + std::to_string(n);
  return text + " voxels of " + size.type;
}

OutputSize reslice_output_size(const NiftiHeader &source, const NiftiHeader &grid, const std::string &datatype,
                               int64_t volume) {
  const NiftiDatatype *type = datatype == "source" ? source.datatype : find_nifti_datatype(datatype);
  if (!type) throw ArgumentError("unknown output datatype " + quoted(datatype));
  OutputSize size;
  size.shape.assign(grid.dim.begin(), grid.dim.end());
  if (volume == 0 && source.volumes > 1) size.shape.push_back(source.volumes);
  size.type = type->name;
  size.value_bytes = static_cast<uint64_t>(type->bytes);
  return size;
}

OutputPlace nifti_output_place(const std::string &path, const OutputSize &size) {
  constexpr uint64_t kHeaderBytes = 544;  // a NIfTI-2 header and its extension flag, the larger
  const uint64_t image = voxel_bytes(size) > UINT64_MAX - kHeaderBytes ? UINT64_MAX : voxel_bytes(size) + kHeaderBytes;
  OutputPlace place;
  place.file = path;
  // How far a compressed image shrinks is not known before it is written:
  // its uncompressed staging is what is weighed.
  (ends_with(path, ".gz") ? place.memory_bytes : place.file_bytes) = image;
  return place;
}

uint64_t free_space_for(const std::string &path) {
  struct statvfs fs {};
  if (::statvfs(folder_of(path).c_str(), &fs) != 0) return UINT64_MAX;
  return saturating_product(fs.f_bavail, fs.f_frsize);
}

void check_output_size(const OutputSize &size, const OutputPlace &place, const std::string &advice) {
  const std::string grid = " (" + grid_text(size) + ")";
  if (!place.file.empty() && takes_room(place.file)) {
    const uint64_t free = free_space_for(place.file);
    if (place.file_bytes > free)
      refuse(place,
             "the output takes " + byte_count(place.file_bytes) + grid + ", more than the " + byte_count(free) +
                 " free on its file system",
             advice);
  }
  const uint64_t usable = usable_memory();
  if (place.memory_bytes > usable / 2)
    refuse(place,
           "the output takes " + byte_count(place.memory_bytes) + grid + " in memory, more than half of the " +
               byte_count(usable) + " this program may use",
           advice);
}

}  // namespace vaeng
