#include "check_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "errors.h"
#include "plane_view.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

constexpr int32_t kGap = 4;  // black pixels between panels
constexpr int32_t kMaxPositions = 16;
constexpr int32_t kMaxPanelSide = 4096;
// Every panel's pixels are held three times as doubles until the windows
// over the whole mosaic are known: about 400 MB at most.
constexpr int64_t kMaxMosaicPixels = int64_t{1} << 24;
constexpr int32_t kEdgeHold = 3;  // the Lagrange cubic: its slope peaks midway between voxel centres

// One panel's pixels, i fastest and j up.
struct PanelCut {
  PlaneView view;
  double position = 0;            // mm along the plane's normal
  std::vector<double> image;      // IMAGE, through request.hold (nearest for labels)
  std::vector<double> ref;        // REF as drawn: grey through request.hold, or labels
  std::vector<double> ref_edges;  // REF through the cubic, for its edges
};

int normal_axis(Plane plane) {
  switch (plane) {
    case Plane::Axial: return 2;
    case Plane::Coronal: return 1;
    case Plane::Sagittal: return 0;
  }
  return 2;
}

Mat4 world_to_voxel(const VolumeMapping &volume) {
  Mat4 inverse{};
  if (!invert(volume.voxel_to_world(), &inverse))
    fail(volume.name(), "its voxel-to-world matrix is singular, so it has no place in the world");
  return inverse;
}

// How far one pixel step along i and along j moves in REF's voxels, at
// most 1: the gradient is measured per voxel, or per pixel when pixels
// are the larger.
std::array<double, 2> pixel_steps(const Mat4 &pixel_to_voxel) {
  std::array<double, 2> steps{};
  for (int c = 0; c < 2; ++c)
    steps[static_cast<std::size_t>(c)] =
        std::min(1.0, std::hypot(at(pixel_to_voxel, 0, c), at(pixel_to_voxel, 1, c), at(pixel_to_voxel, 2, c)));
  return steps;
}

std::vector<double> cut(const VolumeMapping &volume, const Mat4 &transform, const PlaneView &view, int32_t hold,
                        double background, const Workers &workers) {
  return cut_slice(volume, transform, view.width, view.height, hold, background, workers).pixels;
}

std::vector<PanelCut> cut_panels(const VolumeMapping &image, const VolumeMapping &ref, const CheckRequest &request,
                                 const Workers &workers) {
  const Mat4 ref_to_world = ref.voxel_to_world();
  // Both images must lie in the world: IMAGE is sampled at world points,
  // REF's planes are cut in world orientation.
  const Mat4 world_to_image = world_to_voxel(image);
  world_to_voxel(ref);
  const WorldBounds bounds = world_bounds(ref.map().dim, ref_to_world);
  const int32_t image_hold = request.labels == LabelSide::Image ? 0 : request.hold;
  const int32_t ref_hold = request.labels == LabelSide::Reference ? 0 : request.hold;
  const bool ref_drawn = request.labels != LabelSide::None || request.checkerboard > 0;
  const double nan = std::nan("");
  std::vector<PanelCut> panels;
  for (Plane plane : request.planes)
    for (double percent : request.positions) {
      const auto n = static_cast<std::size_t>(normal_axis(plane));
      PanelCut p;
      p.position =
          std::clamp(bounds.low[n] + percent / 100 * (bounds.high[n] - bounds.low[n]), bounds.low[n], bounds.high[n]);
      p.view = plane_view(PlaneRequest{plane, p.position, true, request.size}, ref.map().dim, ref_to_world);
      const Mat4 to_image = multiply(world_to_image, multiply(ref_to_world, p.view.transform));
      p.image = cut(image, to_image, p.view, image_hold, nan, workers);
      if (ref_drawn)
        p.ref = cut(ref, p.view.transform, p.view, ref_hold, request.labels == LabelSide::Reference ? 0 : nan, workers);
      if (request.labels == LabelSide::None) p.ref_edges = cut(ref, p.view.transform, p.view, kEdgeHold, 0, workers);
      panels.push_back(std::move(p));
    }
  return panels;
}

// The 1st to 99th percentile of one kind of pixels over every panel.
Window mosaic_window(const std::vector<PanelCut> &panels, std::vector<double> PanelCut::*pixels) {
  std::vector<double> all;
  for (const PanelCut &p : panels) all.insert(all.end(), (p.*pixels).begin(), (p.*pixels).end());
  return robust_window(all);
}

// What the panels are drawn with, the same for every panel.
struct Drawing {
  const CheckRequest *request = nullptr;
  Window grey{};      // the grey image's levels
  Window ref_grey{};  // REF's in a checkerboard
  double edge_threshold = 0;
};

Drawing drawing_for(const std::vector<PanelCut> &panels, const CheckRequest &request) {
  Drawing d;
  d.request = &request;
  const bool ref_is_grey = request.labels == LabelSide::Image;
  d.grey = request.window ? *request.window : mosaic_window(panels, ref_is_grey ? &PanelCut::ref : &PanelCut::image);
  if (request.checkerboard > 0) d.ref_grey = mosaic_window(panels, &PanelCut::ref);
  if (request.labels == LabelSide::None) {
    // A flat reference has no edges, whatever rounding leaves in its slope.
    const Window range = mosaic_window(panels, &PanelCut::ref_edges);
    d.edge_threshold =
        range.high > range.low ? request.edges * (range.high - range.low) : std::numeric_limits<double>::infinity();
  }
  return d;
}

void set_pixel(Picture *picture, std::size_t index, const std::array<uint8_t, 3> &rgb) {
  std::copy(rgb.begin(), rgb.end(), picture->bytes.begin() + static_cast<std::ptrdiff_t>(3 * index));
}

// Paints the pixels set in `mask` (i fastest, j up) into the picture
// (rows from the top), each in the colour `colour_of` gives its index.
template <class Colour>
void paint_mask(Picture *picture, const std::vector<uint8_t> &mask, Colour colour_of) {
  const auto w = static_cast<std::size_t>(picture->width), h = static_cast<std::size_t>(picture->height);
  for (std::size_t j = 0; j < h; ++j)
    for (std::size_t i = 0; i < w; ++i)
      if (mask[i + w * j]) set_pixel(picture, (h - 1 - j) * w + i, colour_of(i + w * j));
}

// The grey base: the grey image, or IMAGE and REF in alternating squares.
Picture grey_base(const PanelCut &p, const Drawing &d) {
  const CheckRequest &r = *d.request;
  const std::vector<double> &grey = r.labels == LabelSide::Image ? p.ref : p.image;
  Picture picture{p.view.width, p.view.height, 3, {}};
  const auto w = static_cast<std::size_t>(picture.width), h = static_cast<std::size_t>(picture.height);
  picture.bytes.resize(3 * w * h);
  const std::size_t square = r.checkerboard > 0 ? (std::max(w, h) + static_cast<std::size_t>(r.checkerboard) - 1) /
                                                      static_cast<std::size_t>(r.checkerboard)
                                                : 0;
  for (std::size_t j = 0; j < h; ++j)
    for (std::size_t i = 0; i < w; ++i) {
      const std::size_t row = h - 1 - j;
      const bool ref_square = square > 0 && (i / square + row / square) % 2 == 1;
      const uint8_t level = ref_square ? grey_level(p.ref[i + w * j], d.ref_grey) : grey_level(grey[i + w * j], d.grey);
      set_pixel(&picture, row * w + i, {level, level, level});
    }
  return picture;
}

Picture panel_picture(const PanelCut &p, const Drawing &d, const Mat4 &ref_to_world) {
  const CheckRequest &r = *d.request;
  Picture picture = grey_base(p, d);
  if (r.labels == LabelSide::None) {
    const std::vector<uint8_t> edges =
        edge_pixels(p.ref_edges, p.view.width, p.view.height, pixel_steps(p.view.transform), d.edge_threshold);
    paint_mask(&picture, edges, [](std::size_t) { return kEdgeColour; });
  } else {
    const std::vector<double> &labels = r.labels == LabelSide::Image ? p.image : p.ref;
    paint_mask(&picture, outline_pixels(labels, p.view.width, p.view.height),
               [&](std::size_t k) { return label_colour(labels[k]); });
  }
  if (r.letters) draw_letters(&picture, edge_letters(ref_to_world, p.view.transform));
  return picture;
}

void place(Picture *mosaic, const Picture &panel, int32_t x0, int32_t y0) {
  const auto row_bytes = static_cast<std::size_t>(3 * panel.width);
  for (int32_t y = 0; y < panel.height; ++y)
    std::copy_n(panel.bytes.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * row_bytes), row_bytes,
                mosaic->bytes.begin() + static_cast<std::ptrdiff_t>((static_cast<std::size_t>(y0 + y) *
                                                                         static_cast<std::size_t>(mosaic->width) +
                                                                     static_cast<std::size_t>(x0)) *
                                                                    3));
}

// "z -12.5 mm": the axis along the plane's normal and the position.
std::string caption(Plane plane, double position) {
  char text[64];
  // Rounded first, so that -0.04 is written as 0.0, not -0.0.
  const double tenths = std::round(position * 10) / 10;
  std::snprintf(text, sizeof text, "%c %.1f mm", "xyz"[normal_axis(plane)], tenths == 0 ? 0.0 : tenths);
  return text;
}

}  // namespace

std::optional<RequestProblem> check_request_problem(const CheckRequest &r) {
  std::vector<Plane> seen;
  for (Plane plane : r.planes) {
    if (std::find(seen.begin(), seen.end(), plane) != seen.end())
      return RequestProblem{"planes", std::string(plane_name(plane)) + " is named twice"};
    seen.push_back(plane);
  }
  if (r.planes.empty()) return RequestProblem{"planes", "no plane named"};
  if (r.positions.empty() || r.positions.size() > kMaxPositions)
    return RequestProblem{"positions", "give 1 to " + std::to_string(kMaxPositions) + " positions"};
  for (double p : r.positions)
    if (!(p >= 0 && p <= 100))
      return RequestProblem{"positions", shortest_text(p) + " is not a percentage from 0 to 100"};
  for (int32_t side : r.size)
    if (side < 8 || side > kMaxPanelSide)
      return RequestProblem{"size", std::to_string(r.size[0]) + "x" + std::to_string(r.size[1]) +
                                        ": each side of a panel is 8 to " + std::to_string(kMaxPanelSide) + " pixels"};
  const int64_t pixels = int64_t{r.size[0]} * r.size[1] * static_cast<int64_t>(r.planes.size() * r.positions.size());
  if (pixels > kMaxMosaicPixels)
    return RequestProblem{"size", "the panels would hold " + std::to_string(pixels) + " pixels, more than " +
                                      std::to_string(kMaxMosaicPixels) + ": choose smaller panels or fewer of them"};
  if (r.window && !(std::isfinite(r.window->low) && std::isfinite(r.window->high) && r.window->low < r.window->high))
    return RequestProblem{"window", shortest_text(r.window->low) + "," + shortest_text(r.window->high) +
                                        " is not LOW,HIGH with LOW below HIGH"};
  if (r.checkerboard != 0 && (r.checkerboard < 2 || r.checkerboard > std::max(r.size[0], r.size[1])))
    return RequestProblem{"checkerboard", std::to_string(r.checkerboard) +
                                              " squares: from 2 to one a pixel along the panel's longer side"};
  if (r.checkerboard != 0 && r.labels != LabelSide::None)
    return RequestProblem{"checkerboard", "alternates two grey images; a label image is drawn as outlines"};
  if (!(r.edges > 0 && r.edges <= 1))
    return RequestProblem{"edges", shortest_text(r.edges) + " is not a fraction above 0, at most 1"};
  return std::nullopt;
}

std::vector<uint8_t> edge_pixels(const std::vector<double> &f, int32_t width, int32_t height,
                                 const std::array<double, 2> &steps, double threshold) {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  std::vector<double> magnitude(w * h, 0.0);
  std::vector<uint8_t> along_i(w * h, 0);
  for (std::size_t j = 1; j + 1 < h; ++j)
    for (std::size_t i = 1; i + 1 < w; ++i) {
      const std::size_t k = i + w * j;
      const double gi = (f[k + 1] - f[k - 1]) / (2 * steps[0]);
      const double gj = (f[k + w] - f[k - w]) / (2 * steps[1]);
      magnitude[k] = std::hypot(gi, gj);
      along_i[k] = std::fabs(gi) >= std::fabs(gj);
    }
  // A peak across the edge: above the neighbour before it, not below the
  // one after it, so that a flat top of two pixels gives one.
  std::vector<uint8_t> edges(w * h, 0);
  for (std::size_t j = 1; j + 1 < h; ++j)
    for (std::size_t i = 1; i + 1 < w; ++i) {
      const std::size_t k = i + w * j;
      const std::size_t d = along_i[k] ? 1 : w;
      const double m = magnitude[k];
      edges[k] = m >= threshold && m > 0 && m > magnitude[k - d] && m >= magnitude[k + d];
    }
  return edges;
}

std::vector<uint8_t> outline_pixels(const std::vector<double> &labels, int32_t width, int32_t height) {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  std::vector<uint8_t> outline(w * h, 0);
  const auto differs = [&](std::size_t k, std::size_t other) {
    return !(std::round(labels[k]) == std::round(labels[other]));
  };
  for (std::size_t j = 0; j < h; ++j)
    for (std::size_t i = 0; i < w; ++i) {
      const std::size_t k = i + w * j;
      if (!std::isfinite(labels[k]) || std::round(labels[k]) == 0) continue;
      outline[k] = (i > 0 && differs(k, k - 1)) || (i + 1 < w && differs(k, k + 1)) || (j > 0 && differs(k, k - w)) ||
                   (j + 1 < h && differs(k, k + w));
    }
  return outline;
}

Picture check_picture(const VolumeMapping &image, const VolumeMapping &ref, const CheckRequest &request,
                      const Workers &workers) {
  const std::vector<PanelCut> panels = cut_panels(image, ref, request, workers);
  const Drawing drawing = drawing_for(panels, request);
  const auto rows = static_cast<int32_t>(request.planes.size());
  const auto columns = static_cast<int32_t>(request.positions.size());
  const int32_t w = request.size[0], h = request.size[1];
  const int32_t scale = std::max(1, std::min(w, h) / 96);
  const int32_t strip = 10 * scale;
  Picture mosaic{columns * (w + kGap) + kGap, rows * (strip + h + kGap) + kGap, 3, {}};
  mosaic.bytes.assign(static_cast<std::size_t>(mosaic.width) * static_cast<std::size_t>(mosaic.height) * 3, 0);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const PanelCut &p = panels[static_cast<std::size_t>(r * columns + c)];
      const int32_t x0 = kGap + c * (w + kGap), y0 = kGap + r * (strip + h + kGap);
      place(&mosaic, panel_picture(p, drawing, ref.voxel_to_world()), x0, y0 + strip);
      // As much of the caption as fits above its own panel.
      const auto fits = static_cast<std::size_t>(std::max(0, (w - scale) / (6 * scale)));
      draw_text(&mosaic, caption(request.planes[static_cast<std::size_t>(r)], p.position).substr(0, fits), x0 + scale,
                y0 + 2 * scale, scale);
    }
  return mosaic;
}

}  // namespace vaeng
