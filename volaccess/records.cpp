// Record queries: bits per voxel of a type code and voxel sizes.
#include <cmath>

#include "volaccess.h"

extern "C" int get_datasize(int dtype) {
  switch (dtype) {
    case 2:
    case 130:
      return 8;
    case 4:
    case 132:
    case 32772:
    case 32900:
      return 16;
    case 8:
    case 136:
    case 32776:
    case 32904:
    case 16:
    case 32784:
      return 32;
    case 1024:
    case 1280:
    case 33792:
    case 34048:
    case 64:
    case 32832:
      return 64;
    default:
      return 0;
  }
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
