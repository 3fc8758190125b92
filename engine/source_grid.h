// The voxels of one source volume, read where they lie, for what the
// engine computes itself beside the volume library's kernels: the label
// rule, and the range of the voxels a kernel touches (for --clip). Each
// voxel is read by the library's own reader of its encoding and scaled as
// its nearest-neighbour kernel scales it, so both see the same values.
#ifndef VOLACCESS_ENGINE_SOURCE_GRID_H
#define VOLACCESS_ENGINE_SOURCE_GRID_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kernels.h"
#include "volaccess.h"
#include "volume_description.h"

namespace vaeng {

class SourceGrid {
 public:
  // Reads the voxels of the mapped volume in place; the volume must
  // outlive the grid. Fails naming the volume when the library does not
  // know its datatype.
  explicit SourceGrid(const VolumeMapping &volume);
  // The same for a record of the library; `name` names it in errors.
  SourceGrid(const VolumeMap *map, const std::string &name);
  // A grid that holds its own values, given x fastest; for tests.
  SourceGrid(std::array<int64_t, 3> dim, std::vector<double> values);
  // The grid may point into itself.
  SourceGrid(const SourceGrid &) = delete;
  SourceGrid &operator=(const SourceGrid &) = delete;

  // The label at the 1-based point (x, y, z): of the (up to) eight voxels
  // the trilinear kernel would weigh, the value whose weights sum highest,
  // the smaller value on a tie. Outside the volume (the trilinear kernel's
  // test) it is the background.
  double label_at(double x, double y, double z, double background) const;
  // The same at n points, into out: faster than point by point.
  void labels_at(int32_t n, const double *x, const double *y, const double *z, double background, double *out) const;

  // The smallest and largest value among the voxels that the kernel of
  // `hold` reads for the point; false when the kernel finds the point
  // outside the volume.
  bool touched_range(double x, double y, double z, int32_t hold, double *low, double *high) const;

  // Both rules over the voxels of one encoding (source_grid.cpp).
  struct Rules;

 private:
  // What the test grid owns: its values, one plane address per plane and
  // a scale of 1 and an offset of 0 for each.
  struct OwnValues {
    std::vector<double> values;
    std::vector<void *> planes;
    std::vector<double> scale;
    std::vector<double> offset;
    VolumeMap map{};
  };

  OwnValues own_;
  const VolumeMap *map_;
  const Rules *rules_;
};

}  // namespace vaeng

#endif
