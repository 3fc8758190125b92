// The real values of one source volume held in memory, for what the
// program computes itself beside the volume library's kernels: the label
// rule, and the range of the voxels a kernel touches (for --clip).
#ifndef VOLACCESS_ENGINE_SOURCE_GRID_H
#define VOLACCESS_ENGINE_SOURCE_GRID_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels.h"
#include "volume_description.h"

namespace vaeng {

class SourceGrid {
 public:
  // Reads every voxel of the mapped volume as a real value (scale and
  // offset applied), through the library's nearest-neighbour kernel.
  explicit SourceGrid(const VolumeMapping &volume);
  // A grid from values given x fastest; for tests.
  SourceGrid(std::array<int64_t, 3> dim, std::vector<double> values);

  // The label at the 1-based point (x, y, z): of the (up to) eight voxels
  // the trilinear kernel would weigh, the value whose weights sum highest,
  // the smaller value on a tie. Outside the volume (the trilinear kernel's
  // test) it is the background.
  double label_at(double x, double y, double z, double background) const;

  // The smallest and largest value among the voxels that the kernel of
  // `hold` reads for the point; false when the kernel finds the point
  // outside the volume.
  bool touched_range(double x, double y, double z, int32_t hold, double *low, double *high) const;

 private:
  double at(int64_t i, int64_t j, int64_t k) const {
    return values_[static_cast<std::size_t>((k * dim_[1] + j) * dim_[0] + i)];
  }

  std::array<int64_t, 3> dim_{};
  std::vector<double> values_;
};

}  // namespace vaeng

#endif
