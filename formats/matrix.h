// 4x4 homogeneous matrices in the volume library's layout: column-major,
// element (row r, column c), both from 0, at index 4c + r.
#ifndef VOLACCESS_FORMATS_MATRIX_H
#define VOLACCESS_FORMATS_MATRIX_H

#include <array>

namespace vaeng {

using Mat4 = std::array<double, 16>;
using Vec3 = std::array<double, 3>;

Mat4 identity4();
Mat4 translation4(double x, double y, double z);
// A matrix from its 16 elements listed row by row, as people write them.
Mat4 from_rows(const std::array<double, 16> &rows);
double at(const Mat4 &m, int row, int col);
Mat4 multiply(const Mat4 &a, const Mat4 &b);
// The inverse of m, or false when m is singular or not finite.
bool invert(const Mat4 &m, Mat4 *inverse);
// m applied to the point (x, y, z, 1), divided by the resulting w.
Vec3 apply_point(const Mat4 &m, const Vec3 &p);
bool all_finite(const Mat4 &m);

}  // namespace vaeng

#endif
