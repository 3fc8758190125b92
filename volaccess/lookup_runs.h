// The runs of weights behind the lookup kernels: how a builder's run is
// built, remembered for a repeated coordinate, and kept in per-call slots
// until its block has been summed.
#ifndef VOLACCESS_LOOKUP_RUNS_H
#define VOLACCESS_LOOKUP_RUNS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "cell_plan.h"
#include "hold_codes.h"
#include "lookup_cache.h"
#include "stage_support.h"
#include "volaccess.h"
#include "volume.h"

namespace volaccess {

using LookupBuilder = void (*)(int32_t, int32_t, int32_t *, double *, double **, double);
using LookupGradBuilder = void (*)(int32_t, int32_t, int32_t *, double *, double *, double **,
                                   double);

// The builders' output along x, y and z (index 0, 1, 2), rewritten for
// every run built: for weights, and for weights with derivative weights.
struct WeightTables {
  double w[3][kTableEntries];
};

struct GradientTables {
  double w[3][kTableEntries];
  double dw[3][kTableEntries];
};

// One axis's run: weights w[0..n-1] for voxels first..first+n-1.
struct AxisRun {
  int32_t first;
  int32_t n;
  const double *w;
};

inline AxisRun build_run(LookupBuilder build, int32_t q, int32_t dim, double *table, double c) {
  int32_t first = 0;
  double *last = nullptr;
  build(q, dim, &first, table, &last, c);
  return AxisRun{first, run_length(table, last), table};
}

// A run of weights w and derivative weights dw.
struct GradientRun {
  int32_t first;
  int32_t n;
  const double *w;
  const double *dw;
};

inline GradientRun build_gradient_run(LookupGradBuilder build, int32_t q, int32_t dim,
                                      double *table, double *dtable, double c) {
  int32_t first = 0;
  double *last = nullptr;
  build(q, dim, &first, table, dtable, &last, c);
  return GradientRun{first, run_length(table, last), table, dtable};
}

// The last run built along one axis during one kernel call. A builder
// given the same node count, voxel count and coordinate writes the same
// weights and leaves its cache as it was, so a repeated coordinate (along
// the rows of a grid, say) reuses the run instead of building it again.
template <class Run>
class RunMemo {
 public:
  template <class BuildRun>
  const Run &get(double c, BuildRun build_run_for) {
    const uint64_t bits = coordinate_bits(c);
    if (!valid_ || bits != bits_) {
      run_ = build_run_for(c);
      bits_ = bits;
      valid_ = true;
    }
    return run_;
  }

 private:
  bool valid_ = false;
  uint64_t bits_ = 0;
  Run run_{};
};

// The longest run of q nodes in vol: a run keeps only nodes inside the
// volume, so it never holds more weights than the longest axis has voxels
// (at least one slot weight, so that the storage is never empty). A large
// node count on a small volume then costs no large buffer.
inline int32_t run_capacity(int32_t q, const Volume &vol) {
  const int32_t longest = std::max({vol.dim0, vol.dim1, vol.dim2, 1});
  return std::min(q, longest);
}

// The samples of one block of a call of `samples` samples: a block never
// holds more, so a small call needs only small scratch.
inline int32_t block_slots(int64_t samples) {
  return static_cast<int32_t>(std::clamp<int64_t>(samples, 1, kBlock));
}

// Weight storage for the runs of two blocks (the one being summed and the
// one being planned): per block, axis and sample, arrays of `width`
// weights. The plans alternate between the two halves in the order
// run_blocks plans them, so a block's weights live until the block after
// next is planned. Not cleared: a slot is read only after a run is copied
// into it.
class BlockWeights {
 public:
  BlockWeights(int32_t width, int32_t arrays, int32_t slots)
      : width_(width), arrays_(arrays), slots_(slots),
        storage_(new double[static_cast<std::size_t>(2 * 3 * slots) * arrays * width]) {}

  // Weights per array.
  int32_t width() const { return width_; }

  // Starts the next block's half.
  void next_block() { half_ ^= 1; }

  // The first array of the slot of sample s along axis a (0 x, 1 y, 2 z)
  // in the current half; a slot's arrays follow each other.
  double *slot(int32_t a, int32_t s) {
    const std::ptrdiff_t index = (static_cast<std::ptrdiff_t>(half_) * 3 + a) * slots_ + s;
    return storage_.get() + index * arrays_ * width_;
  }

 private:
  int32_t width_;
  int32_t arrays_;
  int32_t slots_;
  int half_ = 1;
  std::unique_ptr<double[]> storage_;
};

// The memo's run with its weights copied into slot: the memo's table is
// rewritten by the next sample's build, the slot only by the block after
// next.
inline AxisRun copy_run(const AxisRun &run, double *slot) {
  std::copy(run.w, run.w + run.n, slot);
  return AxisRun{run.first, run.n, slot};
}

// The memo's run with its weights and derivative weights copied into
// slot, one array of width weights after the other (see copy_run).
inline GradientRun copy_gradient_run(const GradientRun &run, double *slot, int32_t width) {
  std::copy(run.w, run.w + run.n, slot);
  std::copy(run.dw, run.dw + run.n, slot + width);
  return GradientRun{run.first, run.n, slot, slot + width};
}

}  // namespace volaccess

#endif
