#include "png_writer.h"

namespace vaeng {

void write_png(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height,
               const Window &window) {
  write_picture(path, grey_picture(pixels, width, height, window));
}

}  // namespace vaeng
