// The two-stage loop of every sampling kernel. Samples arrive in blocks
// of up to kBlock; the plan stage of the next block (indices, inside
// tests, weights) runs before the current block is summed, and each
// sample's voxels are prefetched a stage-chosen number of samples before
// it is summed, so the memory system fetches while the CPU computes.
// Results are stored one by one at their samples' places; the arithmetic is the
// stages' (nearest_stage.h, trilinear_stages.h, lookup_stages.h).
#ifndef VOLACCESS_SAMPLE_PIPELINE_H
#define VOLACCESS_SAMPLE_PIPELINE_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "cell_plan.h"

namespace volaccess {

// The 1-based coordinates of one block's samples, whether their voxels
// are worth prefetching (not when the samples follow a regular path, which
// the hardware prefetchers already follow more cheaply), and the index of
// its first sample in the caller's order; the block's samples follow it.
struct Block {
  const double *x;
  const double *y;
  const double *z;
  int32_t n;
  bool prefetch;
  std::ptrdiff_t first;
};

// Whether coordinate c of the block's first sample, sample b and its last
// (n - 1) lies on one straight path at steps of at most a voxel: b is as
// far along as its place in the block says, within a hundredth of a voxel.
inline bool steady(const double *c, int32_t b, int32_t n) {
  const double span = c[n - 1] - c[0];
  const double expected = span * static_cast<double>(b) / static_cast<double>(n - 1);
  return std::fabs(span) <= static_cast<double>(n - 1) &&
         std::fabs((c[b] - c[0]) - expected) <= 0.01;
}

// True unless the samples follow a regular path: the first, middle and
// last of n points lie within a few voxels of each other along y and z, as
// along a row of a grid, or evenly along a straight line at steps of at
// most a voxel, as along a row of a rotated grid, whose voxels the
// previous samples or rows have mostly fetched already. The three stand
// for the block, since prefetching is only a hint. NaN coordinates count
// as scattered.
inline bool scattered(const double *x, const double *y, const double *z, int32_t n) {
  const auto near = [](const double *c, int32_t a, int32_t b, double reach) {
    return std::fabs(c[b] - c[a]) <= reach;
  };
  const int32_t mid = n / 2;
  const int32_t last = n - 1;
  if (near(y, 0, mid, 4.0) && near(y, 0, last, 4.0) && near(z, 0, mid, 2.0) &&
      near(z, 0, last, 2.0)) {
    return false;
  }
  return !(n > 2 && steady(x, mid, n) && steady(y, mid, n) && steady(z, mid, n));
}

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
    if (n <= 0) return Block{x_, y_, z_, 0, false, start};
    taken_ += n;
    return Block{
        x_ + start, y_ + start, z_ + start, n, scattered(x_ + start, y_ + start, z_ + start, n),
        start};
  }

 private:
  std::ptrdiff_t m_;
  std::ptrdiff_t taken_ = 0;
  const double *x_;
  const double *y_;
  const double *z_;
};

// Prefetches the voxels of the sample `ahead` places after sample s of
// plan's block (of n samples), counting on into the next block.
template <class Stage>
void prefetch_ahead(const Stage &stage, const typename Stage::Plan &plan, int32_t n,
                    const typename Stage::Plan &next, int32_t next_n, int32_t s) {
  const int32_t t = s + stage.ahead();
  // n never exceeds kBlock; saying so lets the compiler see that a plan
  // is never read past its end.
  if (t < std::min(n, kBlock)) {
    stage.prefetch(plan, t);
  } else if (t - n < next_n) {
    stage.prefetch(next, t - n);
  }
}

// The finish of a stage that samples one by one: sample s of the block,
// interleaved with the prefetch of the sample `ahead` places later, which
// keeps a steady number of misses in flight.
template <class Stage>
void finish_each(Stage &stage, const typename Stage::Plan &plan, const Block &block,
                 const typename Stage::Plan &next, int32_t next_n,
                 typename Stage::Result *results) {
  for (int32_t s = 0; s < block.n; ++s) {
    prefetch_ahead(stage, plan, block.n, next, next_n, s);
    results[s] = stage.sample(plan, block, s);
  }
}

// Runs stage over every block of source and hands store(index, result)
// the results, index counting samples from 0 in the caller's order.
template <class Stage, class Source, class Store>
void run_blocks(Stage &stage, Source &source, Store store) {
  typename Stage::Plan plans[2];
  Block blocks[2];
  int b = 0;
  blocks[0] = source.next(0);
  if (blocks[0].n > 0) stage.plan(blocks[0], plans[0]);
  for (int32_t s = 0; s < std::min(blocks[0].n, stage.ahead()); ++s) stage.prefetch(plans[0], s);
  while (blocks[b].n > 0) {
    const int a = b ^ 1;
    blocks[a] = source.next(a);
    if (blocks[a].n > 0) stage.plan(blocks[a], plans[a]);
    typename Stage::Result results[kBlock];
    stage.finish(plans[b], blocks[b], plans[a], blocks[a].n, results);
    for (int32_t s = 0; s < blocks[b].n; ++s) store(blocks[b].first + s, results[s]);
    b = a;
  }
}

}  // namespace volaccess

#endif
