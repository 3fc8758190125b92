// Building volume records from host values (numeric arrays, or struct
// arrays carrying voxels in "dat" or describing image files), and
// releasing them again.
//
// Every failure releases what is held and then raises a host error, which
// does not return. Nothing here holds an automatic object with a
// destructor across such a call, so an unwinding host and a jumping one
// both leave nothing behind.
#include <sys/mman.h>

#include <cstdint>
#include <cstring>

#include "calvex/ext.h"
#include "encodings.h"
#include "record_parts.h"
#include "volaccess.h"

namespace volaccess {

namespace {

// The native encoding a host array of this class holds, or null.
const Encoding *class_encoding(const hxArray *a) {
  const hxClassID cls = hxGetClassID(a);
  for (const Encoding &e : kEncodings)
    if (!e.swapped && e.host_class == cls) return &e;
  return nullptr;
}

// The dimensions of an array of at most three.
void array_dims(const hxArray *a, uint64_t dim[3]) {
  const hxSize nd = hxGetNumberOfDimensions(a);
  const hxSize *dims = hxGetDimensions(a);
  for (hxSize k = 0; k < 3; ++k) dim[k] = k < nd ? dims[k] : 1;
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
  if (!allocate_planes(map)) fail_record(maps, 0, "Out of memory.");
  contiguous_planes(map, static_cast<unsigned char *>(hxGetPr(ptr)), 0, plane_bytes(map), 1.0, 0.0);
  *n = 1;
  return maps;
}

// The encoding and dimensions of "dat", the voxels of element i.
const Encoding *read_dat(VolumeMap *maps, int32_t i, const hxArray *dat) {
  if (!dat) fail_record(maps, i, "Can't find dat.");
  const Encoding *encoding = class_encoding(dat);
  if (!encoding) fail_record(maps, i, "Unknown volume datatype.");
  // Sparse voxels have no dense layout to address.
  if (hxIsSparse(dat) || !hxGetPr(dat)) fail_record(maps, i, "What do I do with this?");
  if (hxGetNumberOfDimensions(dat) > 3) fail_record(maps, i, "Too many dimensions.");
  array_dims(dat, maps[i].dim);
  if (!dims_fit_kernels(maps[i].dim)) fail_record(maps, i, kTooLarge);
  return encoding;
}

// An optional "dim" beside "dat" must agree with it.
void check_dat_dim(VolumeMap *maps, int32_t i, const hxArray *dim) {
  if (!dim) return;
  if (hxGetNumberOfElements(dim) != 3) fail_record(maps, i, "Wrong sized dim.");
  if (!readable(dim)) fail_record(maps, i, "dim must be numeric.");
  for (hxSize k = 0; k < 3; ++k) {
    uint64_t d;
    if (!truncated_u64(element(dim, k), &d) || d != maps[i].dim[k])
      fail_record(maps, i, "Incompatible volume dimensions in dim.");
  }
}

// An optional "dt" beside "dat" must name the class of "dat".
void check_dat_dt(VolumeMap *maps, int32_t i, const hxArray *dt, const Encoding &encoding) {
  if (!dt) return;
  const hxSize count = hxGetNumberOfElements(dt);
  if (count != 1 && count != 2) fail_record(maps, i, "Wrong sized dt.");
  if (!readable(dt)) fail_record(maps, i, "dt must be numeric.");
  const double code = element(dt, 0);
  if (code != encoding.nifti_code) {
    extPrintf("dtype=%d and dt=%d\n", encoding.code, truncated_int(code));
    fail_record(maps, i, "Incompatible datatype in dt.");
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
    fail_record(maps, i, "Wrong sized pinfo.");
  if (!readable(pinfo)) fail_record(maps, i, "pinfo must be numeric.");
  if (rows == 3 && element(pinfo, 2) != 0.0)
    fail_record(maps, i, "pinfo(3) must equal 0 to read dat field.");
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
  if (!allocate_planes(&maps[i])) fail_record(maps, i, "Out of memory.");
  memory_planes(maps, i, hxGetField(ptr, e, "pinfo"), static_cast<unsigned char *>(hxGetPr(dat)));
  read_mat(maps, i, ptr);
}

// Maps the file named by "fname" of element i; a "fname" that is not text
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

}  // namespace volaccess
