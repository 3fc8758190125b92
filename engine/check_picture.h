// Registration check pictures: an image drawn in world orientation on the
// grid of a reference, in the three planes at a few positions, with the
// reference's edges (or the outlines of a label image) drawn over it.
#ifndef VOLACCESS_ENGINE_CHECK_PICTURE_H
#define VOLACCESS_ENGINE_CHECK_PICTURE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture.h"
#include "png_writer.h"
#include "slicing.h"
#include "volume_description.h"
#include "workers.h"

namespace vaeng {

// Which of the two images holds labels, drawn as coloured outlines.
enum class LabelSide { None, Image, Reference };

struct CheckRequest {
  // Rows of the mosaic, from the top.
  std::vector<Plane> planes{Plane::Axial, Plane::Coronal, Plane::Sagittal};
  // Columns: each plane's position in percent of the reference's world
  // extent along the plane's normal.
  std::vector<double> positions{25, 50, 75};
  // Pixels of each panel; the plane is zoomed to fit, centred.
  std::array<int32_t, 2> size{192, 192};
  // Grey levels of the image drawn in grey (IMAGE, or REF when IMAGE
  // holds labels); by default its 1st to 99th percentile over the mosaic.
  std::optional<Window> window;
  // Squares along a panel's longer side, alternating IMAGE and REF; 0 for
  // none. REF's squares take REF's own 1st to 99th percentile.
  int32_t checkerboard = 0;
  LabelSide labels = LabelSide::None;
  // The kernel for grey images; label images are sampled at the nearest voxel.
  int32_t hold = 1;
  // A pixel is an edge of REF where REF's gradient reaches this fraction
  // of REF's range (1st to 99th percentile of its pixels) per voxel, or
  // per pixel where pixels are larger than voxels.
  double edges = 0.2;
  // The orientation letters, for a reference that lies in the world.
  bool letters = true;
};

// The request's field that is wrong (as named in CheckRequest) and why.
struct RequestProblem {
  std::string field;
  std::string reason;
};
std::optional<RequestProblem> check_request_problem(const CheckRequest &request);

// The colour of REF's edges, which shows on any grey.
constexpr std::array<uint8_t, 3> kEdgeColour{255, 0, 160};

// Pixels i fastest, j up, as cut_slice fills them: the pixels where the
// gradient magnitude (central differences, divided by 2 * `steps` per
// pixel along i and j) reaches `threshold` and peaks across the edge.
std::vector<uint8_t> edge_pixels(const std::vector<double> &pixels, int32_t width, int32_t height,
                                 const std::array<double, 2> &steps, double threshold);
// The pixels holding a label (non-zero) whose left, right, lower or upper
// neighbour holds another.
std::vector<uint8_t> outline_pixels(const std::vector<double> &labels, int32_t width, int32_t height);

// The RGB mosaic: rows of planes, columns of positions, each panel under a
// caption that gives the plane's world position in mm, panels 4 black
// pixels apart. `request` must have no problem.
Picture check_picture(const VolumeMapping &image, const VolumeMapping &ref, const CheckRequest &request,
                      const Workers &workers);

}  // namespace vaeng

#endif
