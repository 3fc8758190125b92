#include "png_writer.h"

#include <png.h>
#include <unistd.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "cli_error.h"
#include "output_file.h"
#include "unique_fd.h"

namespace vacli {

double percentile(std::vector<double> values, double p) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
               values.end());
  if (values.empty()) return 0;
  const double rank = std::round(p / 100.0 * static_cast<double>(values.size() - 1));
  const auto k = static_cast<std::size_t>(std::clamp(rank, 0.0, static_cast<double>(values.size() - 1)));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

Window robust_window(const std::vector<double> &values) { return Window{percentile(values, 1), percentile(values, 99)}; }

uint8_t grey_level(double v, const Window &w) {
  if (std::isnan(v)) return 0;
  if (v <= w.low) return 0;
  if (v >= w.high) return 255;
  return static_cast<uint8_t>(std::lround(255.0 * (v - w.low) / (w.high - w.low)));
}

void write_png(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height,
               const Window &window) {
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  std::vector<uint8_t> grey(w * h);
  for (std::size_t j = 0; j < h; ++j)
    for (std::size_t i = 0; i < w; ++i) grey[(h - 1 - j) * w + i] = grey_level(pixels[i + w * j], window);

  OutputFile out(path);
  FILE *stream = ::fdopen(::dup(out.fd()), "wb");
  if (!stream) fail(path, "cannot write: " + system_reason(errno));
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_GRAY;
  const int ok = png_image_write_to_stdio(&image, stream, 0, grey.data(), width, nullptr);
  const std::string reason = ok ? "" : image.message;
  png_image_free(&image);
  const bool closed = std::fclose(stream) == 0;
  if (!ok) fail(path, "cannot write the PNG picture: " + reason);
  if (!closed) fail(path, "cannot write: " + system_reason(errno));
  out.commit();
}

}  // namespace vacli
