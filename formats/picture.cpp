#include "picture.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "errors.h"
#include "output_file.h"

namespace vaeng {

namespace {

// A 5x7 glyph, one row a byte from the top, the leftmost column the 0x10 bit.
struct Glyph {
  char letter;
  uint8_t rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}}, {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'y', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
};

const Glyph *glyph_of(char letter) {
  for (const Glyph &g : kGlyphs)
    if (g.letter == letter) return &g;
  return nullptr;
}

// Picture rows from the top; pixel (i, j) of the slice is in row height - j.
template <class Paint>
Picture picture_of(const std::vector<double> &pixels, int32_t width, int32_t height, int channels, Paint paint) {
  Picture p;
  p.width = width;
  p.height = height;
  p.channels = channels;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  const auto c = static_cast<std::size_t>(channels);
  p.bytes.resize(w * h * c);
  for (std::size_t j = 0; j < h; ++j)
    for (std::size_t i = 0; i < w; ++i) paint(pixels[i + w * j], &p.bytes[((h - 1 - j) * w + i) * c]);
  return p;
}

void paint_box(Picture *p, int32_t x0, int32_t y0, int32_t size, uint8_t level) {
  for (int32_t y = std::max(0, y0); y < std::min(p->height, y0 + size); ++y)
    for (int32_t x = std::max(0, x0); x < std::min(p->width, x0 + size); ++x) {
      uint8_t *px =
          &p->bytes[(static_cast<std::size_t>(y) * static_cast<std::size_t>(p->width) + static_cast<std::size_t>(x)) *
                    static_cast<std::size_t>(p->channels)];
      std::fill(px, px + p->channels, level);
    }
}

// The glyph's cells, each a square of `scale` pixels, with its top left
// corner at (x0, y0): first the rim (every cell grown by `scale`), then
// the letter.
void draw_glyph(Picture *p, const Glyph &g, int32_t x0, int32_t y0, int32_t scale) {
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t r = 0; r < 7; ++r)
      for (int32_t c = 0; c < 5; ++c) {
        if (!(g.rows[r] & (0x10 >> c))) continue;
        const int32_t x = x0 + c * scale;
        const int32_t y = y0 + r * scale;
        if (pass == 0)
          paint_box(p, x - scale, y - scale, 3 * scale, 0);
        else
          paint_box(p, x, y, scale, 255);
      }
}

}  // namespace

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

Picture grey_picture(const std::vector<double> &pixels, int32_t width, int32_t height, const Window &window) {
  return picture_of(pixels, width, height, 1, [&](double v, uint8_t *px) { *px = grey_level(v, window); });
}

Picture label_picture(const std::vector<double> &pixels, int32_t width, int32_t height) {
  return picture_of(pixels, width, height, 3, [](double v, uint8_t *px) {
    const std::array<uint8_t, 3> rgb = label_colour(v);
    std::copy(rgb.begin(), rgb.end(), px);
  });
}

std::array<uint8_t, 3> label_colour(double value) {
  if (!std::isfinite(value)) return {0, 0, 0};
  const double label = std::fabs(std::round(value));
  if (label == 0) return {0, 0, 0};
  const double turns = label * 0.6180339887498949;
  const double hue = (turns - std::floor(turns)) * 6;
  const double brightness[] = {1.0, 0.8, 0.6};
  const double v = brightness[static_cast<int>(std::fmod(label, 3.0))];
  const double s = 0.8;
  const int sector = std::min(5, static_cast<int>(hue));
  const double f = hue - sector;
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  const double rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
  const auto level = [](double x) { return static_cast<uint8_t>(std::lround(255 * x)); };
  return {level(rgb[sector][0]), level(rgb[sector][1]), level(rgb[sector][2])};
}

void draw_letters(Picture *picture, const EdgeLetters &letters) {
  const int32_t scale = std::max(1, std::min(picture->width, picture->height) / 96);
  const int32_t w = 5 * scale, h = 7 * scale, margin = 2 * scale;
  if (picture->width < 3 * (w + 2 * margin) || picture->height < 3 * (h + 2 * margin)) return;
  const int32_t mid_x = (picture->width - w) / 2;
  const int32_t mid_y = (picture->height - h) / 2;
  const int32_t spots[4][2] = {
      {margin, mid_y}, {picture->width - margin - w, mid_y}, {mid_x, picture->height - margin - h}, {mid_x, margin}};
  for (std::size_t e = 0; e < 4; ++e) {
    const Glyph *g = letters[e] != '\0' && std::strchr("LRAPSI", letters[e]) ? glyph_of(letters[e]) : nullptr;
    if (g) draw_glyph(picture, *g, spots[e][0], spots[e][1], scale);
  }
}

void draw_text(Picture *picture, const std::string &text, int32_t x, int32_t y, int32_t scale) {
  for (char c : text) {
    if (const Glyph *g = glyph_of(c)) draw_glyph(picture, *g, x, y, scale);
    x += 6 * scale;
  }
}

// Encoded in memory and written like every output, so that a failed
// write says why.
void write_picture(const std::string &path, const Picture &picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = picture.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  const int32_t stride = picture.width * picture.channels;
  png_alloc_size_t size = 0;
  std::vector<unsigned char> encoded;
  bool ok = png_image_write_to_memory(&image, nullptr, &size, 0, picture.bytes.data(), stride, nullptr);
  if (ok) {
    encoded.resize(size);
    ok = png_image_write_to_memory(&image, encoded.data(), &size, 0, picture.bytes.data(), stride, nullptr);
  }
  const std::string reason = ok ? "" : image.message;
  png_image_free(&image);
  if (!ok) fail(path, "cannot encode the PNG picture: " + reason);
  OutputFile out(path);
  write_all(out.fd(), encoded.data(), size, path);
  out.commit();
}

}  // namespace vaeng
