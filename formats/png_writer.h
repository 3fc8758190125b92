// Images as 8-bit grey PNG pictures, through a display window.
#ifndef VOLACCESS_FORMATS_PNG_WRITER_H
#define VOLACCESS_FORMATS_PNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace vaeng {

// Values at or below `low` are black, at or above `high` white.
struct Window {
  double low = 0;
  double high = 1;
};

// The p-th percentile (0..100) of the finite values, by nearest rank;
// 0 when there are none.
double percentile(std::vector<double> finite_values, double p);
// A window from the 1st to the 99th percentile of the finite values, so
// that a few extreme voxels do not wash the picture out.
Window robust_window(const std::vector<double> &values);

// The grey level of v: linear between the window's ends, rounded; values
// that are not numbers are black.
uint8_t grey_level(double v, const Window &w);

// Writes pixels (i fastest, as the slice kernels fill them) as a picture
// whose bottom row is j = 1, so that the second axis points up.
void write_png(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height,
               const Window &window);

}  // namespace vaeng

#endif
