// Building volume records from host values, mapping image files read-only
// in place, and releasing the records again.
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
#include <cstring>

#include "calvex/ext.h"
#include "encodings.h"
#include "volaccess.h"

namespace {

using volaccess::Encoding;

// Kernels index voxels with signed 32-bit counts.
constexpr uint64_t kMaxCount = 0x7FFFFFFFu;
constexpr double kTwoTo64 = 18446744073709551616.0;

const char kTooLarge[] =
    "Volume too large: each dimension and each plane must hold fewer than 2^31 voxels.";

// The native encoding a host array of this class holds, or null.
const Encoding *class_encoding(const hxArray *a) {
  const hxClassID cls = hxGetClassID(a);
  for (const Encoding &e : volaccess::kEncodings)
    if (!e.swapped && e.host_class == cls) return &e;
  return nullptr;
}

// "dt" code and swap flag of a file to type code; false for a code
// outside the table. One-byte encodings have no twin: they ignore the flag.
bool file_type_code(int dt, bool swapped, int32_t *type_code) {
  const Encoding *native = nullptr;
  for (const Encoding &e : volaccess::kEncodings)
    if (!e.swapped && e.nifti_code == dt) native = &e;
  if (!native) return false;
  const Encoding *twin =
      swapped ? volaccess::find_encoding(native->code | volaccess::kSwappedBit) : nullptr;
  *type_code = twin ? twin->code : native->code;
  return true;
}

// Fields are read element by element in their own class, so a field of
// any numeric, logical or char class is read within its bounds.
bool readable(const hxArray *a) {
  return (hxIsNumeric(a) || hxIsLogical(a) || hxIsChar(a)) && !hxIsSparse(a) &&
         hxGetPr(a) != nullptr;
}

// One element of type T at p, which may sit at any alignment.
template <class T>
double load_as(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

double element(const hxArray *a, hxSize i) {
  const unsigned char *p = static_cast<const unsigned char *>(hxGetPr(a)) + i * hxGetElementSize(a);
  switch (hxGetClassID(a)) {
    case hxDOUBLE_CLASS: return load_as<double>(p);
    case hxSINGLE_CLASS: return load_as<float>(p);
    case hxINT8_CLASS: return load_as<int8_t>(p);
    case hxUINT8_CLASS:
    case hxLOGICAL_CLASS: return load_as<uint8_t>(p);
    case hxINT16_CLASS: return load_as<int16_t>(p);
    case hxUINT16_CLASS:
    case hxCHAR_CLASS: return load_as<uint16_t>(p);
    case hxINT32_CLASS: return load_as<int32_t>(p);
    case hxUINT32_CLASS: return load_as<uint32_t>(p);
    case hxINT64_CLASS: return load_as<int64_t>(p);
    case hxUINT64_CLASS: return load_as<uint64_t>(p);
    default: return 0.0;
  }
}

// |v| truncated toward zero, saturated to the int range; NaN gives 0. Used
// where a code is read or printed: no value ever converts out of range.
int truncated_int(double v) {
  const double a = std::fabs(v);
  if (!(a < 2147483648.0)) return std::isnan(a) ? 0 : 0x7FFFFFFF;
  return static_cast<int>(a);
}

// |v| truncated to an unsigned 64-bit integer, or false when it has none.
bool truncated_u64(double v, uint64_t *out) {
  const double a = std::fabs(v);
  if (!(a < kTwoTo64)) return false;
  *out = static_cast<uint64_t>(a);
  return true;
}

bool add_u64(uint64_t a, uint64_t b, uint64_t *sum) { return !__builtin_add_overflow(a, b, sum); }
bool mul_u64(uint64_t a, uint64_t b, uint64_t *product) {
  return !__builtin_mul_overflow(a, b, product);
}

bool dims_fit_kernels(const uint64_t dim[3]) {
  return dim[0] <= kMaxCount && dim[1] <= kMaxCount && dim[2] <= kMaxCount &&
         dim[0] * dim[1] <= kMaxCount;
}

void set_identity(double mat[16]) {
  for (int e = 0; e < 16; ++e) mat[e] = (e % 5 == 0) ? 1.0 : 0.0;
}

// Releases records 0 to i and raises `message`. The records are zeroed when
// made, so record i is released whole however far it was filled.
[[noreturn]] void fail(VolumeMap *maps, int32_t i, const char *message) {
  free_maps(maps, i + 1);
  extErrMsgTxt(message);
}

// The dimensions of an array of at most three.
void array_dims(const hxArray *a, uint64_t dim[3]) {
  const hxSize nd = hxGetNumberOfDimensions(a);
  const hxSize *dims = hxGetDimensions(a);
  for (hxSize k = 0; k < 3; ++k) dim[k] = k < nd ? dims[k] : 1;
}

// The record's three per-plane arrays; false when memory ran out.
bool allocate_planes(VolumeMap *map) {
  map->data = static_cast<void **>(hxCalloc(map->dim[2], sizeof(void *)));
  map->scale = static_cast<double *>(hxCalloc(map->dim[2], sizeof(double)));
  map->offset = static_cast<double *>(hxCalloc(map->dim[2], sizeof(double)));
  return map->data && map->scale && map->offset;
}

void contiguous_planes(VolumeMap *map, unsigned char *base, uint64_t first, uint64_t plane_bytes,
                       double scale, double offset) {
  for (uint64_t k = 0; k < map->dim[2]; ++k) {
    map->scale[k] = scale;
    map->offset[k] = offset;
    map->data[k] = base ? base + first + k * plane_bytes : nullptr;
  }
}

uint64_t plane_bytes(const VolumeMap *map) {
  return map->dim[0] * map->dim[1] * static_cast<uint64_t>(get_datasize(map->dtype) / 8);
}

// Copies "mat" of element i, or leaves the identity when it is absent.
void read_mat(VolumeMap *maps, int32_t i, const hxArray *ptr) {
  VolumeMap *map = &maps[i];
  set_identity(map->mat);
  const hxArray *mat = hxGetField(ptr, static_cast<hxSize>(i), "mat");
  if (!mat) return;
  if (hxGetM(mat) != 4 || hxGetN(mat) != 4) fail(maps, i, "Wrong sized mat.");
  if (!readable(mat)) fail(maps, i, "mat must be numeric.");
  for (hxSize e = 0; e < 16; ++e) map->mat[e] = element(mat, e);
}

VolumeMap *map_plain_array(const hxArray *ptr, int32_t *n) {
  if (hxGetNumberOfDimensions(ptr) > 3 || !hxIsNumeric(ptr) || hxIsComplex(ptr) || hxIsSparse(ptr))
    extErrMsgTxt("What do I do with this?");
  const Encoding *encoding = class_encoding(ptr);
  if (!encoding) extErrMsgTxt("Unknown volume datatype.");
  uint64_t dim[3];
  array_dims(ptr, dim);
  if (!dims_fit_kernels(dim)) extErrMsgTxt(kTooLarge);

  auto *maps = static_cast<VolumeMap *>(hxCalloc(1, sizeof(VolumeMap)));
  if (!maps) extErrMsgTxt("Out of memory.");
  VolumeMap *map = &maps[0];
  std::memcpy(map->dim, dim, sizeof dim);
  set_identity(map->mat);
  map->dtype = encoding->code;
  if (!allocate_planes(map)) fail(maps, 0, "Out of memory.");
  contiguous_planes(map, static_cast<unsigned char *>(hxGetPr(ptr)), 0, plane_bytes(map), 1.0, 0.0);
  *n = 1;
  return maps;
}

// The encoding and dimensions of "dat", the voxels of element i.
const Encoding *read_dat(VolumeMap *maps, int32_t i, const hxArray *dat) {
  if (!dat) fail(maps, i, "Can't find dat.");
  const Encoding *encoding = class_encoding(dat);
  if (!encoding) fail(maps, i, "Unknown volume datatype.");
  // Sparse voxels have no dense layout to address.
  if (hxIsSparse(dat) || !hxGetPr(dat)) fail(maps, i, "What do I do with this?");
  if (hxGetNumberOfDimensions(dat) > 3) fail(maps, i, "Too many dimensions.");
  array_dims(dat, maps[i].dim);
  if (!dims_fit_kernels(maps[i].dim)) fail(maps, i, kTooLarge);
  return encoding;
}

// An optional "dim" beside "dat" must agree with it.
void check_dat_dim(VolumeMap *maps, int32_t i, const hxArray *dim) {
  if (!dim) return;
  if (hxGetNumberOfElements(dim) != 3) fail(maps, i, "Wrong sized dim.");
  if (!readable(dim)) fail(maps, i, "dim must be numeric.");
  for (hxSize k = 0; k < 3; ++k) {
    uint64_t d;
    if (!truncated_u64(element(dim, k), &d) || d != maps[i].dim[k])
      fail(maps, i, "Incompatible volume dimensions in dim.");
  }
}

// An optional "dt" beside "dat" must name the class of "dat".
void check_dat_dt(VolumeMap *maps, int32_t i, const hxArray *dt, const Encoding &encoding) {
  if (!dt) return;
  const hxSize count = hxGetNumberOfElements(dt);
  if (count != 1 && count != 2) fail(maps, i, "Wrong sized dt.");
  if (!readable(dt)) fail(maps, i, "dt must be numeric.");
  const double code = element(dt, 0);
  if (code != encoding.nifti_code) {
    extPrintf("dtype=%d and dt=%d\n", encoding.code, truncated_int(code));
    fail(maps, i, "Incompatible datatype in dt.");
  }
}

// Scale and offset of the planes of "dat" from an optional "pinfo": one
// column for all planes or one per plane, with a zero byte position.
void memory_planes(VolumeMap *maps, int32_t i, const hxArray *pinfo, unsigned char *base) {
  VolumeMap *map = &maps[i];
  const uint64_t bytes = plane_bytes(map);
  contiguous_planes(map, base, 0, bytes, 1.0, 0.0);
  if (!pinfo) return;
  const hxSize rows = hxGetM(pinfo), cols = hxGetN(pinfo);
  if ((rows != 2 && rows != 3) || (cols != 1 && cols != map->dim[2]))
    fail(maps, i, "Wrong sized pinfo.");
  if (!readable(pinfo)) fail(maps, i, "pinfo must be numeric.");
  if (rows == 3 && element(pinfo, 2) != 0.0)
    fail(maps, i, "pinfo(3) must equal 0 to read dat field.");
  for (uint64_t k = 0; k < map->dim[2]; ++k) {
    const hxSize column = cols == 1 ? 0 : k * rows;
    map->scale[k] = element(pinfo, column);
    map->offset[k] = element(pinfo, column + 1);
  }
}

// Element i of a struct array whose voxels are in its "dat" field.
void map_in_memory(VolumeMap *maps, int32_t i, const hxArray *ptr) {
  const hxSize e = static_cast<hxSize>(i);
  const hxArray *dat = hxGetField(ptr, e, "dat");
  const Encoding *encoding = read_dat(maps, i, dat);
  check_dat_dim(maps, i, hxGetField(ptr, e, "dim"));
  check_dat_dt(maps, i, hxGetField(ptr, e, "dt"), *encoding);
  maps[i].dtype = encoding->code;
  if (!allocate_planes(&maps[i])) fail(maps, i, "Out of memory.");
  memory_planes(maps, i, hxGetField(ptr, e, "pinfo"), static_cast<unsigned char *>(hxGetPr(dat)));
  read_mat(maps, i, ptr);
}

// Maps the file named by "fname" of element i; a "fname" that is not text
// leaves the record without a mapping.
void map_file(VolumeMap *maps, int32_t i, const hxArray *fname) {
  VolumeMap *map = &maps[i];
  if (!hxIsChar(fname)) return;
  char *path = hxArrayToString(fname);
  if (!path) fail(maps, i, "Can't get filename.");
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    hxFree(path);
    fail(maps, i, "Can't open image file.");
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    hxFree(path);
    fail(maps, i, "Can't get file size.");
  }
  map->map_len = static_cast<uint64_t>(st.st_size);
  void *addr = mmap(nullptr, map->map_len, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (addr == MAP_FAILED) {
    std::perror("Memory Map");
    map->map_addr = nullptr;
    map->map_len = 0;
    hxFree(path);
    fail(maps, i, "Can't map image file.");
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
    fail(maps, i, "File too small.");
  if (!allocate_planes(map)) fail(maps, i, "Out of memory.");
  contiguous_planes(map, static_cast<unsigned char *>(map->map_addr), position, bytes, scale,
                    offset);
}

// One column of "pinfo" per plane; each plane is checked before its
// address is formed.
void scattered_file_planes(VolumeMap *maps, int32_t i, const hxArray *pinfo) {
  VolumeMap *map = &maps[i];
  const uint64_t bytes = plane_bytes(map);
  unsigned char *base = static_cast<unsigned char *>(map->map_addr);
  if (!allocate_planes(map)) fail(maps, i, "Out of memory.");
  for (uint64_t k = 0; k < map->dim[2]; ++k) {
    map->scale[k] = element(pinfo, 3 * k);
    map->offset[k] = element(pinfo, 3 * k + 1);
    uint64_t position;
    if (!truncated_u64(element(pinfo, 3 * k + 2), &position) ||
        !inside_mapping(map, position, bytes))
      fail(maps, i, "File too small.");
    map->data[k] = base + position;
  }
}

// The planes of the mapped file: from its start without "pinfo", else
// from the scale, offset and byte position in each column of "pinfo".
void file_planes(VolumeMap *maps, int32_t i, const hxArray *pinfo) {
  if (!pinfo) return contiguous_file_planes(maps, i, 0, 1.0, 0.0);
  const hxSize rows = hxGetM(pinfo), cols = hxGetN(pinfo);
  if (rows != 3 || (cols != 1 && cols != maps[i].dim[2])) fail(maps, i, "Wrong sized pinfo.");
  if (!readable(pinfo)) fail(maps, i, "pinfo must be numeric.");
  if (cols != 1) return scattered_file_planes(maps, i, pinfo);
  uint64_t position;
  if (!truncated_u64(element(pinfo, 2), &position)) fail(maps, i, "File too small.");
  contiguous_file_planes(maps, i, position, element(pinfo, 0), element(pinfo, 1));
}

// "dim" of a file's description: three whole numbers the kernels can index.
void read_file_dim(VolumeMap *maps, int32_t i, const hxArray *dim) {
  VolumeMap *map = &maps[i];
  if (!dim) fail(maps, i, "Can't find dim.");
  if (hxGetNumberOfElements(dim) != 3) fail(maps, i, "Wrong sized dim.");
  if (!readable(dim)) fail(maps, i, "dim must be numeric.");
  for (hxSize k = 0; k < 3; ++k) {
    const double d = std::fabs(element(dim, k));
    if (std::isnan(d)) fail(maps, i, "Non-finite value in dim.");
    if (!(d < 2147483648.0)) fail(maps, i, kTooLarge);
    map->dim[k] = static_cast<uint64_t>(static_cast<int32_t>(d));
  }
  if (!dims_fit_kernels(map->dim)) fail(maps, i, kTooLarge);
}

// "dt" of a file's description: the datatype code and the swap flag.
void read_file_dt(VolumeMap *maps, int32_t i, const hxArray *dt) {
  if (!dt) fail(maps, i, "Can't find dt.");
  if (hxGetNumberOfElements(dt) != 2) fail(maps, i, "Wrong sized dt.");
  if (!readable(dt)) fail(maps, i, "dt must be numeric.");
  // A swap flag that is not a number is taken as set: it is not zero.
  const double flag = element(dt, 1);
  const bool swapped = !(std::fabs(flag) < 1.0);
  if (!file_type_code(truncated_int(element(dt, 0)), swapped, &maps[i].dtype))
    fail(maps, i, "Unknown datatype.");
}

// Element i of a struct array that describes an image file.
void map_from_file(VolumeMap *maps, int32_t i, const hxArray *ptr) {
  const hxSize e = static_cast<hxSize>(i);
  read_file_dim(maps, i, hxGetField(ptr, e, "dim"));
  read_file_dt(maps, i, hxGetField(ptr, e, "dt"));
  const hxArray *fname = hxGetField(ptr, e, "fname");
  if (!fname) fail(maps, i, "Can't find fname.");
  map_file(maps, i, fname);
  file_planes(maps, i, hxGetField(ptr, e, "pinfo"));
  read_mat(maps, i, ptr);
}

VolumeMap *map_struct_array(const hxArray *ptr, int32_t *n) {
  const hxSize count = hxGetNumberOfElements(ptr);
  if (count > kMaxCount) extErrMsgTxt("Too many volumes.");
  *n = static_cast<int32_t>(count);
  auto *maps = static_cast<VolumeMap *>(hxCalloc(count, sizeof(VolumeMap)));
  if (!maps) extErrMsgTxt("Out of memory.");
  if (count == 0) return maps;
  const bool in_memory = hxGetField(ptr, 0, "dat") != nullptr;
  for (int32_t i = 0; i < *n; ++i) {
    if (in_memory)
      map_in_memory(maps, i, ptr);
    else
      map_from_file(maps, i, ptr);
  }
  return maps;
}

}  // namespace

extern "C" VolumeMap *get_maps(const hxArray *ptr, int32_t *n) {
  if (!hxIsStruct(ptr)) return map_plain_array(ptr, n);
  return map_struct_array(ptr, n);
}

extern "C" void free_maps(VolumeMap *maps, int32_t n) {
  if (!maps) return;
  for (int32_t i = 0; i < n; ++i) {
    VolumeMap *map = &maps[i];
    if (map->map_addr) {
      munmap(map->map_addr, map->map_len);
      map->map_addr = nullptr;
    }
    if (map->data) {
      hxFree(map->data);
      map->data = nullptr;
    }
    if (map->scale) {
      hxFree(map->scale);
      map->scale = nullptr;
    }
    if (map->offset) {
      hxFree(map->offset);
      map->offset = nullptr;
    }
  }
  hxFree(maps);
}

extern "C" int32_t get_dtype(const hxArray *ptr) {
  if (!hxIsStruct(ptr)) extErrMsgTxt("Not a structure.");
  const hxArray *dt = hxGetField(ptr, 0, "dt");
  if (!dt) extErrMsgTxt("Can't find dt.");
  if (hxGetNumberOfElements(dt) != 2) extErrMsgTxt("Wrong sized dt.");
  if (!readable(dt)) extErrMsgTxt("dt must be numeric.");
  return truncated_int(element(dt, 0));
}
