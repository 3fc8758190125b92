// NIfTI headers built field by field for the tests, in either byte order.
#ifndef VOLACCESS_TESTS_TOOLS_HEADER_BYTES_H
#define VOLACCESS_TESTS_TOOLS_HEADER_BYTES_H

// nifti1.h redefines dirent.h's DT_UNKNOWN as a macro, which breaks
// dirent.h when it comes second.
#include <dirent.h>
#include <nifti2_io.h>

#include <cstring>
#include <vector>

namespace vacli_test {

// A valid single-file NIfTI-1 header of a 4x5x6 int16 image.
inline nifti_1_header basic_v1() {
  nifti_1_header h;
  std::memset(&h, 0, sizeof h);
  h.sizeof_hdr = 348;
  h.dim[0] = 3;
  h.dim[1] = 4;
  h.dim[2] = 5;
  h.dim[3] = 6;
  for (int i = 4; i < 8; ++i) h.dim[i] = 1;
  h.datatype = 4;
  h.bitpix = 16;
  for (int i = 0; i < 8; ++i) h.pixdim[i] = 1;
  h.vox_offset = 352;
  std::memcpy(h.magic, "n+1\0", 4);
  return h;
}

inline nifti_2_header basic_v2() {
  nifti_2_header h;
  std::memset(&h, 0, sizeof h);
  h.sizeof_hdr = 540;
  h.dim[0] = 3;
  h.dim[1] = 4;
  h.dim[2] = 5;
  h.dim[3] = 6;
  for (int i = 4; i < 8; ++i) h.dim[i] = 1;
  h.datatype = 4;
  h.bitpix = 16;
  for (int i = 0; i < 8; ++i) h.pixdim[i] = 1;
  h.vox_offset = 544;
  std::memcpy(h.magic, "n+2\0\r\n\032\n", 8);
  return h;
}

template <class Header>
std::vector<unsigned char> bytes_of(Header h, bool swapped = false) {
  if (swapped) {
    if constexpr (sizeof(Header) == 348)
      nifti_swap_as_nifti1(&h);
    else
      nifti_swap_as_nifti2(&h);
  }
  const auto *p = reinterpret_cast<const unsigned char *>(&h);
  return std::vector<unsigned char>(p, p + sizeof h);
}

}  // namespace vacli_test

#endif
