// The pixel walk of the slice kernels and the test for the in-plane
// shortcut.
#ifndef VOLACCESS_SLICE_WALK_H
#define VOLACCESS_SLICE_WALK_H

#include <cmath>
#include <cstdint>

namespace volaccess {

// Carries pixel (i, j, 0, 1), both counted from 1, through the column-major
// transform m and writes sample(X/W, Y/W, Z/W) to the image, i fastest.
// Each row start is formed once (the third column times 0 included, so an
// infinite or NaN entry there poisons its coordinate) and the coordinates
// are then stepped by repeated addition. Returns -1, leaving this pixel and
// every later one unwritten, when W becomes exactly zero.
template <class Sample>
int32_t walk_slice(const double *m, double *image, int32_t xdim1, int32_t ydim1, Sample sample) {
  if (ydim1 < 1 || xdim1 < 1) return 0;
  const double rows = static_cast<double>(ydim1);
  const double columns = static_cast<double>(xdim1);
  double *pixel = image;
  for (double j = 1.0; j <= rows; j += 1.0) {
    double x = (m[8] * 0.0 + m[12]) + j * m[4];
    double y = (m[9] * 0.0 + m[13]) + j * m[5];
    double z = (m[10] * 0.0 + m[14]) + j * m[6];
    double w = (m[11] * 0.0 + m[15]) + j * m[7];
    for (double i = 1.0; i <= columns; i += 1.0) {
      w = w + m[3];
      if (w == 0.0) return -1;
      x = x + m[0];
      y = y + m[1];
      z = z + m[2];
      *pixel++ = sample(x / w, y / w, z / w);
    }
  }
  return 0;
}

inline bool near_one(double v) { return v > 0.9999999999 && v < 1.0000000001; }
inline bool near_zero(double v) { return v > -1e-10 && v < 1e-10; }
inline bool near_whole(double v) { return std::fabs(std::floor(v + 0.5) - v) < 1e-10; }

// True when the transform only selects one whole plane of the volume at
// the volume's own in-plane size: an identity up to 1e-10 whose z
// translation m[14] is a plane number 1..dim2. The entries are tested row
// by row (m[0], m[4], m[8], m[12], m[1], ...), then the sizes, then the
// range of m[14] itself; a NaN fails.
inline bool selects_whole_plane(const double *m, int32_t xdim1, int32_t ydim1, int32_t dim0,
                                int32_t dim1, int32_t dim2) {
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const int e = row + 4 * column;
      const bool ok = e == 14 ? near_whole(m[e]) : row == column ? near_one(m[e]) : near_zero(m[e]);
      if (!ok) return false;
    }
  }
  if (xdim1 != dim0 || ydim1 != dim1) return false;
  return m[14] >= 1.0 && m[14] <= static_cast<double>(dim2);
}

}  // namespace volaccess

#endif
