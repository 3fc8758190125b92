#include "png_writer.h"

#include <algorithm>
#include <cmath>

#include "picture.h"

namespace vaeng {

double percentile(std::vector<double> values, double p) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }), values.end());
  if (values.empty()) return 0;
  const double rank = std::round(p / 100.0 * static_cast<double>(values.size() - 1));
  const auto k = static_cast<std::size_t>(std::clamp(rank, 0.0, static_cast<double>(values.size() - 1)));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

Window robust_window(const std::vector<double> &values) {
  return Window{percentile(values, 1), percentile(values, 99)};
}

uint8_t grey_level(double v, const Window &w) {
  if (std::isnan(v)) return 0;
  if (v <= w.low) return 0;
  if (v >= w.high) return 255;
  return static_cast<uint8_t>(std::lround(255.0 * (v - w.low) / (w.high - w.low)));
}

void write_png(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height,
               const Window &window) {
  write_picture(path, grey_picture(pixels, width, height, window));
}

}  // namespace vaeng
