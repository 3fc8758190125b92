// The voxel encodings of voxel_types.def as a table for the record code:
// bits per voxel of a type code, the encoding a host array holds, and the
// type code of a "dt" code and byte order.
#ifndef VOLACCESS_ENCODINGS_H
#define VOLACCESS_ENCODINGS_H

#include <cstdint>

#include "calvex/hx.h"

namespace volaccess {

struct Encoding {
  int32_t code;  // the record's dtype
  int bits;      // per voxel
  hxClassID host_class;
  int nifti_code;  // what "dt" carries
  bool swapped;    // the byte-swapped twin of the encoding with code & ~kSwappedBit
};

constexpr int32_t kSwappedBit = 0x8000;

constexpr Encoding kEncodings[] = {
#define VOLACCESS_ENCODING(t, code, element, reader, bits, host_class, nifti_code, twin, name) \
  {(code), (bits), (host_class), (nifti_code), (twin) != 0},
#include "voxel_types.def"
#undef VOLACCESS_ENCODING
};

#define VOLACCESS_ENCODING(t, code, element, reader, bits, host_class, nifti_code, twin, name) \
  static_assert((bits) == 8 * sizeof(element), #t ": bits per voxel and stored element disagree");
#include "voxel_types.def"
#undef VOLACCESS_ENCODING

// The encoding with this type code, or null.
constexpr const Encoding *find_encoding(int32_t code) {
  for (const Encoding &e : kEncodings)
    if (e.code == code) return &e;
  return nullptr;
}

// Every multi-byte encoding has a twin whose code is its own | kSwappedBit
// and that shares its size, class and "dt" code; nothing else sets the bit.
constexpr bool twins_follow_the_rule() {
  for (const Encoding &e : kEncodings) {
    if (((e.code & kSwappedBit) != 0) != e.swapped) return false;
    const Encoding *other = find_encoding(e.code ^ kSwappedBit);
    if (!other) {
      if (e.swapped || e.bits > 8) return false;
      continue;
    }
    if (other->bits != e.bits || other->host_class != e.host_class ||
        other->nifti_code != e.nifti_code)
      return false;
  }
  return true;
}
static_assert(twins_follow_the_rule(),
              "voxel_types.def: a byte-swapped twin breaks the rule of its code");

}  // namespace volaccess

#endif
