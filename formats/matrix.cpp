#include "matrix.h"

#include <cmath>
#include <utility>

namespace vaeng {

Mat4 identity4() { return Mat4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Mat4 translation4(double x, double y, double z) {
  Mat4 m = identity4();
  m[12] = x;
  m[13] = y;
  m[14] = z;
  return m;
}

Mat4 from_rows(const std::array<double, 16> &rows) {
  Mat4 m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m[4 * c + r] = rows[4 * r + c];
  return m;
}

double at(const Mat4 &m, int row, int col) { return m[4 * col + row]; }

Mat4 multiply(const Mat4 &a, const Mat4 &b) {
  Mat4 p{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[4 * k + r] * b[4 * c + k];
      p[4 * c + r] = sum;
    }
  return p;
}

bool all_finite(const Mat4 &m) {
  for (double v : m)
    if (!std::isfinite(v)) return false;
  return true;
}

// Gauss-Jordan elimination with partial pivoting. A pivot that is tiny
// next to the largest element marks the matrix as singular: its inverse
// would be dominated by rounding.
bool invert(const Mat4 &m, Mat4 *inverse) {
  if (!all_finite(m)) return false;
  double a[4][8];
  // Pivots are weighed against the linear part alone: a large translation
  // makes no matrix singular.
  double largest = 0;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      a[r][c] = at(m, r, c);
      a[r][c + 4] = r == c ? 1.0 : 0.0;
      if (c < 3) largest = std::fmax(largest, std::fabs(a[r][c]));
    }
  if (largest == 0) return false;
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 4; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) <= 1e-12 * largest) return false;
    if (pivot != col)
      for (int c = 0; c < 8; ++c) std::swap(a[col][c], a[pivot][c]);
    const double p = a[col][col];
    for (int c = 0; c < 8; ++c) a[col][c] /= p;
    for (int r = 0; r < 4; ++r) {
      if (r == col || a[r][col] == 0) continue;
      const double f = a[r][col];
      for (int c = 0; c < 8; ++c) a[r][c] -= f * a[col][c];
    }
  }
  Mat4 inv{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) inv[4 * c + r] = a[r][c + 4];
  if (!all_finite(inv)) return false;
  *inverse = inv;
  return true;
}

Vec3 apply_point(const Mat4 &m, const Vec3 &p) {
  double out[4];
  for (int r = 0; r < 4; ++r) out[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
  return Vec3{out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

}  // namespace vaeng
