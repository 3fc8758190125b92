#include "kernel_reach.h"

#include <cmath>

namespace volaccess {

namespace {

bool nearest_axis(double c, double d) {
  const double f = std::floor(c - 0.5);
  return f >= 0.0 && f < d;
}

// The trilinear planner tests the 0-based coordinate against
// (dim + 0.05) - 1.0; the subtractions round as they do there.
bool trilinear_axis(double c, double d) {
  const double zero_based = c - 1.0;
  return zero_based >= -0.05 && zero_based < (d + 0.05) - 1.0;
}

bool lookup_axis(double c, double d) { return c >= 0.95 && c <= d + 0.05; }

}  // namespace

bool within_reach(const uint64_t dim[3], int32_t hold, bool gradient, double x, double y,
                  double z) {
  bool (*axis)(double, double) = hold == 0 && !gradient ? nearest_axis
                                 : hold == 1            ? trilinear_axis
                                                        : lookup_axis;
  return axis(x, static_cast<double>(dim[0])) && axis(y, static_cast<double>(dim[1])) &&
         axis(z, static_cast<double>(dim[2]));
}

}  // namespace volaccess
