// The pixel walk of the slice kernels and the test for the in-plane
// shortcut.
#ifndef VOLACCESS_SLICE_WALK_H
#define VOLACCESS_SLICE_WALK_H

#include <cmath>
#include <cstdint>

#include "cell_plan.h"
#include "sample_pipeline.h"

namespace volaccess {

// Carries pixel (i, j, 0, 1), both counted from 1, through the column-major
// transform m, i fastest, and hands out the volume coordinates
// (X/W, Y/W, Z/W) a block at a time. Each row start is formed once (the
// third column times 0 included, so an infinite or NaN entry there poisons
// its coordinate) and the coordinates are then stepped by repeated
// addition; the walk runs ahead of the sampling by one block, and the
// divisions of a block are made together. The walk ends before the first
// pixel whose W is exactly zero; stopped() then tells the kernel to return
// -1, with that pixel and every later one unwritten.
class SliceWalk {
 public:
  SliceWalk(const double *m, int32_t xdim1, int32_t ydim1, const PlanKernels &plans)
      : m_(m), rows_(static_cast<double>(ydim1)), columns_(static_cast<double>(xdim1)), plans_(plans) {
    finished_ = ydim1 < 1 || xdim1 < 1;
    if (!finished_) start_row();
  }

  Block next(int slot) {
    Buffer &q = buffers_[slot];
    double x[kBlock], y[kBlock], z[kBlock], w[kBlock];
    int32_t n = 0;
    while (n < kBlock && !finished_) {
      n = step_row(x, y, z, w, n);
      if (!finished_ && i_ > columns_) start_row();
    }
    plans_.quotients(x, y, z, w, n, q.x, q.y, q.z);
    // The walk moves by fixed steps, which the hardware prefetchers
    // follow: prefetching its voxels only costs time.
    return Block{q.x, q.y, q.z, n, false};
  }

  bool stopped() const { return stopped_; }

 private:
  struct Buffer {
    double x[kBlock];
    double y[kBlock];
    double z[kBlock];
  };

  // Steps along the current row into x, y, z, w from entry n on, until
  // the block is full, the row ends or W is zero; returns the new count.
  // The running values live in locals here, where the compiler can keep
  // them in registers.
  int32_t step_row(double *x, double *y, double *z, double *w, int32_t n) {
    const double dx = m_[0], dy = m_[1], dz = m_[2], dw = m_[3];
    double xr = x_, yr = y_, zr = z_, wr = w_, i = i_;
    for (; n < kBlock && i <= columns_; i += 1.0) {
      wr = wr + dw;
      if (wr == 0.0) {
        stopped_ = true;
        finished_ = true;
        break;
      }
      xr = xr + dx;
      yr = yr + dy;
      zr = zr + dz;
      x[n] = xr;
      y[n] = yr;
      z[n] = zr;
      w[n] = wr;
      ++n;
    }
    x_ = xr;
    y_ = yr;
    z_ = zr;
    w_ = wr;
    i_ = i;
    return n;
  }

  void start_row() {
    j_ += 1.0;
    if (!(j_ <= rows_)) {
      finished_ = true;
      return;
    }
    x_ = (m_[8] * 0.0 + m_[12]) + j_ * m_[4];
    y_ = (m_[9] * 0.0 + m_[13]) + j_ * m_[5];
    z_ = (m_[10] * 0.0 + m_[14]) + j_ * m_[6];
    w_ = (m_[11] * 0.0 + m_[15]) + j_ * m_[7];
    i_ = 1.0;
  }

  const double *m_;
  double rows_;
  double columns_;
  const PlanKernels &plans_;
  double j_ = 0.0;
  double i_ = 1.0;
  double x_ = 0.0;
  double y_ = 0.0;
  double z_ = 0.0;
  double w_ = 0.0;
  bool finished_ = false;
  bool stopped_ = false;
  Buffer buffers_[2];
};

inline bool near_one(double v) { return v > 0.9999999999 && v < 1.0000000001; }
inline bool near_zero(double v) { return v > -1e-10 && v < 1e-10; }
inline bool near_whole(double v) { return std::fabs(std::floor(v + 0.5) - v) < 1e-10; }

// True when the transform only selects one whole plane of the volume at
// the volume's own in-plane size: an identity up to 1e-10 whose z
// translation m[14] is a plane number 1..dim2. The entries are tested row
// by row (m[0], m[4], m[8], m[12], m[1], ...), then the sizes, then the
// range of m[14] itself; a NaN fails.
inline bool selects_whole_plane(const double *m, int32_t xdim1, int32_t ydim1, int32_t dim0,
                                int32_t dim1, int32_t dim2) {
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const int e = row + 4 * column;
      const bool ok = e == 14 ? near_whole(m[e]) : row == column ? near_one(m[e]) : near_zero(m[e]);
      if (!ok) return false;
    }
  }
  if (xdim1 != dim0 || ydim1 != dim1) return false;
  return m[14] >= 1.0 && m[14] <= static_cast<double>(dim2);
}

}  // namespace volaccess

#endif
