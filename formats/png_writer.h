// Images of values written straight to 8-bit grey PNG files, through a
// display window (picture.h).
#ifndef VOLACCESS_FORMATS_PNG_WRITER_H
#define VOLACCESS_FORMATS_PNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

namespace vaeng {

// Writes pixels (i fastest, as the slice kernels fill them) as a picture
// whose bottom row is j = 1, so that the second axis points up.
void write_png(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height,
               const Window &window);

}  // namespace vaeng

#endif
