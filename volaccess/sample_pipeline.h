// The two-stage loop of every sampling kernel. Samples arrive in blocks
// of up to kBlock; the plan stage of the next block (indices, inside
// tests, and prefetches of the voxels it will read) runs before the
// current block is summed, so the memory system fetches one block while
// the other is computed. Samples are still taken, and results stored, one
// by one in their order, with the arithmetic of samplers.h.
#ifndef VOLACCESS_SAMPLE_PIPELINE_H
#define VOLACCESS_SAMPLE_PIPELINE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cell_plan.h"

namespace volaccess {

// The 1-based coordinates of one block's samples.
struct Block {
  const double *x;
  const double *y;
  const double *z;
  int32_t n;
};

// Points given as three coordinate arrays of m entries.
class PointSource {
 public:
  PointSource(int32_t m, const double *x, const double *y, const double *z)
      : m_(m), x_(x), y_(y), z_(z) {}

  // The next block (n = 0 after the last). The slot is for sources that
  // fill buffers of their own.
  Block next(int /*slot*/) {
    const std::ptrdiff_t start = taken_;
    const auto n = static_cast<int32_t>(std::min<std::ptrdiff_t>(kBlock, m_ - start));
    if (n <= 0) return Block{x_, y_, z_, 0};
    taken_ += n;
    return Block{x_ + start, y_ + start, z_ + start, n};
  }

 private:
  std::ptrdiff_t m_;
  std::ptrdiff_t taken_ = 0;
  const double *x_;
  const double *y_;
  const double *z_;
};

// The finish of a stage that samples one by one: sample s of the block,
// interleaved with the prefetches of the next block's sample s, which
// keeps the misses in flight spread out.
template <class Stage>
void finish_each(Stage &stage, const typename Stage::Plan &plan, const Block &block,
                 const typename Stage::Plan &next, int32_t next_n, typename Stage::Result *results) {
  for (int32_t s = 0; s < block.n; ++s) {
    if (s < next_n) stage.prefetch(next, s);
    results[s] = stage.sample(plan, block, s);
  }
}

// Runs stage over every block of source and hands store(index, result)
// the results in sample order, index counting samples from 0.
template <class Stage, class Source, class Store>
void run_blocks(Stage &stage, Source &source, Store store) {
  typename Stage::Plan plans[2];
  Block blocks[2];
  int b = 0;
  blocks[0] = source.next(0);
  if (blocks[0].n > 0) stage.plan(blocks[0], plans[0]);
  for (int32_t s = 0; s < blocks[0].n; ++s) stage.prefetch(plans[0], s);
  std::ptrdiff_t done = 0;
  while (blocks[b].n > 0) {
    const int a = b ^ 1;
    blocks[a] = source.next(a);
    if (blocks[a].n > 0) stage.plan(blocks[a], plans[a]);
    typename Stage::Result results[kBlock];
    stage.finish(plans[b], blocks[b], plans[a], blocks[a].n, results);
    for (int32_t s = 0; s < blocks[b].n; ++s) store(done + s, results[s]);
    done += blocks[b].n;
    b = a;
  }
}

}  // namespace volaccess

#endif
