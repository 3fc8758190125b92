// Images as .npy files: the exact doubles, readable by numpy.load.
#ifndef VOLACCESS_FORMATS_NPY_WRITER_H
#define VOLACCESS_FORMATS_NPY_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace vaeng {

// The header of a width-by-height array of doubles stored with the first
// index fastest, so that array[i - 1, j - 1] is pixel (i, j).
std::string npy_header(int32_t width, int32_t height);

// Writes pixels (i fastest, as the slice kernels fill them) to `path`.
void write_npy(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height);

}  // namespace vaeng

#endif
