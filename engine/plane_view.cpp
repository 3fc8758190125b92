#include "plane_view.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "errors.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

// The frame axes a plane's pixels run along (u to the right, v up) and
// its normal: x = 0, y = 1, z = 2 of the voxel grid or of the world.
struct PlaneAxes {
  int u, v, n;
};

PlaneAxes axes_of(Plane plane) {
  switch (plane) {
    case Plane::Axial: return {0, 1, 2};
    case Plane::Coronal: return {0, 2, 1};
    case Plane::Sagittal: return {1, 2, 0};
  }
  return {0, 1, 2};
}

// What the plane is cut from, in its frame (voxel grid or world mm): the
// extent of the image along each axis and the natural pixel size.
struct FrameBox {
  Vec3 low{}, high{};
  double pitch = 1;
  Mat4 to_voxel = identity4();
};

FrameBox voxel_box(const uint64_t dim[3]) {
  FrameBox box;
  for (std::size_t a = 0; a < 3; ++a) {
    box.low[a] = 0.5;
    box.high[a] = static_cast<double>(dim[a]) + 0.5;
  }
  return box;
}

// The world box with pixels of the smallest voxel size.
FrameBox world_box(const uint64_t dim[3], const Mat4 &voxel_to_world, const std::string &option) {
  FrameBox box;
  if (!invert(voxel_to_world, &box.to_voxel))
    throw ArgumentError("--world: the image's voxel-to-world matrix is singular");
  const WorldBounds bounds = world_bounds(dim, voxel_to_world);
  box.low = bounds.low;
  box.high = bounds.high;
  box.pitch = std::numeric_limits<double>::infinity();
  for (int c = 0; c < 3; ++c) {
    const double length = std::hypot(at(voxel_to_world, 0, c), at(voxel_to_world, 1, c), at(voxel_to_world, 2, c));
    box.pitch = std::min(box.pitch, length);
  }
  if (!(box.pitch > 0)) throw ArgumentError("--" + option + ": the image has a voxel size of 0");
  return box;
}

int32_t pixels_across(double extent, double pitch) {
  const double n = std::ceil(extent / pitch * (1 - 1e-9));
  if (!(n <= 65535)) throw ArgumentError("the world plane would be more than 65535 pixels across: give --size");
  return std::max(1, static_cast<int32_t>(n));
}

double plane_position(const PlaneRequest &request, const FrameBox &box, int n, const uint64_t dim[3]) {
  const auto un = static_cast<std::size_t>(n);
  const std::string option = "--" + std::string(plane_name(request.plane));
  if (!request.position) return (box.low[un] + box.high[un]) / 2;
  const double p = *request.position;
  const double low = request.world ? box.low[un] : 1.0;
  const double high = request.world ? box.high[un] : static_cast<double>(dim[un]);
  if (!(p >= low && p <= high))
    throw ArgumentError(option + " " + shortest_text(p) + " lies outside the image: " +
                        (request.world ? "world " + std::string("xyz").substr(un, 1) + " from " + shortest_text(low) +
                                             " to " + shortest_text(high) + " mm"
                                       : "planes 1 to " + shortest_text(high)));
  return p;
}

char axis_letter(int axis, bool positive) {
  const char letters[3][2] = {{'L', 'R'}, {'P', 'A'}, {'I', 'S'}};
  return letters[axis][positive ? 1 : 0];
}

// The letter for where direction d (world) points, by its largest component.
char direction_letter(const Vec3 &d, bool positive) {
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (std::fabs(d[static_cast<std::size_t>(a)]) > std::fabs(d[static_cast<std::size_t>(axis)])) axis = a;
  if (d[static_cast<std::size_t>(axis)] == 0) return '\0';
  return axis_letter(axis, (d[static_cast<std::size_t>(axis)] > 0) == positive);
}

}  // namespace

WorldBounds world_bounds(const uint64_t dim[3], const Mat4 &voxel_to_world) {
  WorldBounds box;
  box.low = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
             std::numeric_limits<double>::infinity()};
  box.high = {-box.low[0], -box.low[1], -box.low[2]};
  for (int corner = 0; corner < 8; ++corner) {
    Vec3 p{};
    for (std::size_t a = 0; a < 3; ++a) p[a] = (corner >> a & 1) ? static_cast<double>(dim[a]) + 0.5 : 0.5;
    const Vec3 w = apply_point(voxel_to_world, p);
    for (std::size_t a = 0; a < 3; ++a) {
      box.low[a] = std::min(box.low[a], w[a]);
      box.high[a] = std::max(box.high[a], w[a]);
    }
  }
  return box;
}

PlaneView plane_view(const PlaneRequest &request, const uint64_t dim[3], const Mat4 &voxel_to_world) {
  const PlaneAxes ax = axes_of(request.plane);
  const FrameBox box = request.world ? world_box(dim, voxel_to_world, plane_name(request.plane)) : voxel_box(dim);
  const auto u = static_cast<std::size_t>(ax.u), v = static_cast<std::size_t>(ax.v);
  const double extent_u = box.high[u] - box.low[u];
  const double extent_v = box.high[v] - box.low[v];
  PlaneView view;
  double step = box.pitch;
  if (request.size) {
    view.width = (*request.size)[0];
    view.height = (*request.size)[1];
    step = std::max(extent_u / view.width, extent_v / view.height);
  } else {
    view.width = pixels_across(extent_u, step);
    view.height = pixels_across(extent_v, step);
    if (view.width > std::numeric_limits<int32_t>::max() / view.height)
      throw ArgumentError("the world plane would hold more than 2^31 - 1 pixels: give --size");
  }
  // Pixel (i, j) at centre + (i - (W + 1) / 2) * step along u, alike along v:
  // the picture's middle at the middle of the image.
  Mat4 frame{};
  frame[4 * 0 + u] = step;
  frame[4 * 1 + v] = step;
  frame[4 * 2 + static_cast<std::size_t>(ax.n)] = 1;
  frame[12 + u] = (box.low[u] + box.high[u]) / 2 - (view.width + 1) / 2.0 * step;
  frame[12 + v] = (box.low[v] + box.high[v]) / 2 - (view.height + 1) / 2.0 * step;
  frame[12 + static_cast<std::size_t>(ax.n)] = plane_position(request, box, ax.n, dim);
  frame[15] = 1;
  view.transform = request.world ? multiply(box.to_voxel, frame) : frame;
  return view;
}

EdgeLetters edge_letters(const Mat4 &voxel_to_world, const Mat4 &pixel_to_voxel) {
  const Mat4 to_world = multiply(voxel_to_world, pixel_to_voxel);
  const Vec3 across{at(to_world, 0, 0), at(to_world, 1, 0), at(to_world, 2, 0)};
  const Vec3 up{at(to_world, 0, 1), at(to_world, 1, 1), at(to_world, 2, 1)};
  return {direction_letter(across, false), direction_letter(across, true), direction_letter(up, false),
          direction_letter(up, true)};
}

}  // namespace vaeng
