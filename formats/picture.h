// Pictures of slices before they become PNG files: grey through a display
// window, or coloured by label; orientation letters drawn on their edges.
#ifndef VOLACCESS_FORMATS_PICTURE_H
#define VOLACCESS_FORMATS_PICTURE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vaeng {

// The display window of a grey picture: values at or below `low` are
// black, at or above `high` white.
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

// Rows from the top, each pixel `channels` bytes (1 grey, 3 red-green-blue).
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 1;
  std::vector<uint8_t> bytes;
};

// Pixels as the slice kernels fill them (i fastest, j = 1 first) drawn with
// the second axis pointing up: the bottom row is j = 1.
Picture grey_picture(const std::vector<double> &pixels, int32_t width, int32_t height, const Window &window);
Picture label_picture(const std::vector<double> &pixels, int32_t width, int32_t height);

// The fixed colour of a label (the value rounded to the nearest integer):
// 0 and values that are not numbers are black; label L has the hue of L
// golden-ratio turns round the colour wheel, so that labels that follow
// one another differ, at one of three brightnesses by L mod 3.
std::array<uint8_t, 3> label_colour(double value);

// The letter at each edge: left, right, bottom, top ('\0' for none).
using EdgeLetters = std::array<char, 4>;
// White letters with a black rim, halfway along each edge; pictures too
// small to hold them are left alone. Letters other than L R A P S I are
// not drawn.
void draw_letters(Picture *picture, const EdgeLetters &letters);

// The text in the same white letters with a black rim, each character
// 5 x 7 cells of `scale` pixels, 6 cells apart, its top left corner at
// (x, y); it draws L R A P S I, the digits, '-', '.', 'm', 'x', 'y', 'z'
// and leaves a space for any other character.
void draw_text(Picture *picture, const std::string &text, int32_t x, int32_t y, int32_t scale);

// Writes the picture as an 8-bit grey or colour PNG.
void write_picture(const std::string &path, const Picture &picture);

}  // namespace vaeng

#endif
