// Records of image files: each described by its "dim", "dt", "fname",
// "pinfo" and "mat", and mapped read-only in place.
//
// Every failure releases what is held and then raises a host error, which
// does not return. Nothing here holds an automatic object with a
// destructor across such a call, so an unwinding host and a jumping one
// both leave nothing behind.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "calvex/ext.h"
#include "encodings.h"
#include "record_parts.h"

namespace volaccess {

namespace {

// "dt" code and swap flag of a file to type code; false for a code
// outside the table. One-byte encodings have no twin: they ignore the flag.
bool file_type_code(int dt, bool swapped, int32_t *type_code) {
  const Encoding *native = nullptr;
  for (const Encoding &e : kEncodings)
    if (!e.swapped && e.nifti_code == dt) native = &e;
  if (!native) return false;
  const Encoding *twin = swapped ? find_encoding(native->code | kSwappedBit) : nullptr;
  *type_code = twin ? twin->code : native->code;
  return true;
}

bool add_u64(uint64_t a, uint64_t b, uint64_t *sum) { return !__builtin_add_overflow(a, b, sum); }
bool mul_u64(uint64_t a, uint64_t b, uint64_t *product) {
  return !__builtin_mul_overflow(a, b, product);
}

// leaves the record without a mapping.
void map_file(VolumeMap *maps, int32_t i, const hxArray *fname) {
  VolumeMap *map = &maps[i];
  if (!hxIsChar(fname)) return;
  char *path = hxArrayToString(fname);
  if (!path) fail_record(maps, i, "Can't get filename.");
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    hxFree(path);
    fail_record(maps, i, "Can't open image file.");
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    hxFree(path);
    fail_record(maps, i, "Can't get file size.");
  }
  map->map_len = static_cast<uint64_t>(st.st_size);
  void *addr = mmap(nullptr, map->map_len, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (addr == MAP_FAILED) {
    std::perror("Memory Map");
    map->map_addr = nullptr;
    map->map_len = 0;
    hxFree(path);
    fail_record(maps, i, "Can't map image file.");
  }
  map->map_addr = addr;
  hxFree(path);
}

// True when `length` bytes from `position` lie inside the mapping.
bool inside_mapping(const VolumeMap *map, uint64_t position, uint64_t length) {
  uint64_t end;
  return add_u64(position, length, &end) && end <= map->map_len;
}

// All planes one after another from `position`, with one scale and offset.
// The per-plane arrays grow with dim[2], which a description of a few bytes
// can set near 2^31: here and below they are only made once the file, or
// pinfo, is known to hold that many planes.
void contiguous_file_planes(VolumeMap *maps, int32_t i, uint64_t position, double scale,
                            double offset) {
  VolumeMap *map = &maps[i];
  const uint64_t bytes = plane_bytes(map);
  uint64_t volume_bytes;
  if (!mul_u64(bytes, map->dim[2], &volume_bytes) || !inside_mapping(map, position, volume_bytes))
    fail_record(maps, i, "File too small.");
  if (!allocate_planes(map)) fail_record(maps, i, "Out of memory.");
  contiguous_planes(map, static_cast<unsigned char *>(map->map_addr), position, bytes, scale,
                    offset);
}

// One column of "pinfo" per plane; each plane is checked before its
// address is formed.
void scattered_file_planes(VolumeMap *maps, int32_t i, const hxArray *pinfo) {
  VolumeMap *map = &maps[i];
  const uint64_t bytes = plane_bytes(map);
  unsigned char *base = static_cast<unsigned char *>(map->map_addr);
  if (!allocate_planes(map)) fail_record(maps, i, "Out of memory.");
  for (uint64_t k = 0; k < map->dim[2]; ++k) {
    map->scale[k] = element(pinfo, 3 * k);
    map->offset[k] = element(pinfo, 3 * k + 1);
    uint64_t position;
    if (!truncated_u64(element(pinfo, 3 * k + 2), &position) ||
        !inside_mapping(map, position, bytes))
      fail_record(maps, i, "File too small.");
    map->data[k] = base + position;
  }
}

// The planes of the mapped file: from its start without "pinfo", else
// from the scale, offset and byte position in each column of "pinfo".
void file_planes(VolumeMap *maps, int32_t i, const hxArray *pinfo) {
  if (!pinfo) return contiguous_file_planes(maps, i, 0, 1.0, 0.0);
  const hxSize rows = hxGetM(pinfo), cols = hxGetN(pinfo);
  if (rows != 3 || (cols != 1 && cols != maps[i].dim[2]))
    fail_record(maps, i, "Wrong sized pinfo.");
  if (!readable(pinfo)) fail_record(maps, i, "pinfo must be numeric.");
  if (cols != 1) return scattered_file_planes(maps, i, pinfo);
  uint64_t position;
  if (!truncated_u64(element(pinfo, 2), &position)) fail_record(maps, i, "File too small.");
  contiguous_file_planes(maps, i, position, element(pinfo, 0), element(pinfo, 1));
}

// "dim" of a file's description: three whole numbers the kernels can index.
void read_file_dim(VolumeMap *maps, int32_t i, const hxArray *dim) {
  VolumeMap *map = &maps[i];
  if (!dim) fail_record(maps, i, "Can't find dim.");
  if (hxGetNumberOfElements(dim) != 3) fail_record(maps, i, "Wrong sized dim.");
  if (!readable(dim)) fail_record(maps, i, "dim must be numeric.");
  for (hxSize k = 0; k < 3; ++k) {
    const double d = std::fabs(element(dim, k));
    if (std::isnan(d)) fail_record(maps, i, "Non-finite value in dim.");
    if (!(d < 2147483648.0)) fail_record(maps, i, kTooLarge);
    map->dim[k] = static_cast<uint64_t>(static_cast<int32_t>(d));
  }
  if (!dims_fit_kernels(map->dim)) fail_record(maps, i, kTooLarge);
}

// "dt" of a file's description: the datatype code and the swap flag.
void read_file_dt(VolumeMap *maps, int32_t i, const hxArray *dt) {
  if (!dt) fail_record(maps, i, "Can't find dt.");
  if (hxGetNumberOfElements(dt) != 2) fail_record(maps, i, "Wrong sized dt.");
  if (!readable(dt)) fail_record(maps, i, "dt must be numeric.");
  // A swap flag that is not a number is taken as set: it is not zero.
  const double flag = element(dt, 1);
  const bool swapped = !(std::fabs(flag) < 1.0);
  if (!file_type_code(truncated_int(element(dt, 0)), swapped, &maps[i].dtype))
    fail_record(maps, i, "Unknown datatype.");
}

}  // namespace

// Element i of a struct array that describes an image file.
void map_from_file(VolumeMap *maps, int32_t i, const hxArray *ptr) {
  const hxSize e = static_cast<hxSize>(i);
  read_file_dim(maps, i, hxGetField(ptr, e, "dim"));
  read_file_dt(maps, i, hxGetField(ptr, e, "dt"));
  const hxArray *fname = hxGetField(ptr, e, "fname");
  if (!fname) fail_record(maps, i, "Can't find fname.");
  map_file(maps, i, fname);
  file_planes(maps, i, hxGetField(ptr, e, "pinfo"));
  read_mat(maps, i, ptr);
}

}  // namespace volaccess
