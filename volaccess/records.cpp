// Record queries: bits per voxel of a type code and voxel sizes.
#include <cmath>

#include "encodings.h"
#include "volaccess.h"

extern "C" int get_datasize(int dtype) {
  const volaccess::Encoding *encoding = volaccess::find_encoding(dtype);
  return encoding ? encoding->bits : 0;
}

extern "C" void voxdim(const VolumeMap *map, double vox[3]) {
  for (int c = 0; c < 3; ++c) {
    const double *column = map->mat + 4 * c;
    double sum = 0.0;  // ((0 + a^2) + b^2) + c^2, in this order
    sum = sum + column[0] * column[0];
    sum = sum + column[1] * column[1];
    sum = sum + column[2] * column[2];
    vox[c] = std::sqrt(sum);
  }
}
