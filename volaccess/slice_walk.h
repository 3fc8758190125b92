// The pixel walk of the slice kernels and the test for the in-plane
// shortcut.
#ifndef VOLACCESS_SLICE_WALK_H
#define VOLACCESS_SLICE_WALK_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cell_plan.h"
#include "sample_pipeline.h"

namespace volaccess {

// Carries pixel (i, j, 0, 1), both counted from 1, through the column-major
// transform m, i fastest, and hands out the volume coordinates
// (X/W, Y/W, Z/W) a block at a time, in that pixel order. Each row start
// is formed once (the third column times 0 included, so an infinite or NaN
// entry there poisons its coordinate) and the coordinates are then
// stepped along the row by repeated addition. The additions of one row
// form a chain, but rows are independent: rows of up to kWalkColumns
// pixels are stepped kWalkLanes at a time, one per vector lane, and a
// wider row alone, kWalkColumns pixels at a time. Rows of at least kBlock
// pixels are handed out `piece` (at most kBlock) columns of each row in
// turn, so that the voxels one row fetched are still in the nearest cache
// when the rows beside it need them; narrower ones in pixel order, several
// rows to a block. The walk ends before the first pixel whose W is exactly zero;
// stopped() then tells the kernel to return -1, with that pixel and every
// later one unwritten.
class SliceWalk {
 public:
  SliceWalk(const double *m, int32_t xdim1, int32_t ydim1, const PlanKernels &plans, int32_t piece)
      : m_(m), columns_(xdim1), rows_(ydim1), piece_(piece), plans_(plans),
        lanes_(xdim1 <= kWalkColumns ? kWalkLanes : 1), finished_(xdim1 < 1 || ydim1 < 1) {
    if (finished_) return;
    chunk_capacity_ = std::min(columns_, kWalkColumns);
    for (auto &steps : steps_) {
      steps.resize(static_cast<std::size_t>(4 * kWalkLanes) *
                   static_cast<std::size_t>(chunk_capacity_));
    }
    walk_.dx = m[0];
    walk_.dy = m[1];
    walk_.dz = m[2];
    walk_.dw = m[3];
  }

  // The next block (n = 0 after the last). Never prefetched: the walk
  // moves by fixed steps through voxels the rows beside mostly fetched
  // already, and prefetching them only costs time.
  Block next(int slot) {
    return columns_ >= kBlock ? next_piece(buffers_[slot]) : next_rows(buffers_[slot]);
  }

  bool stopped() const { return stopped_; }

 private:
  // Rows of up to this many pixels are walked kWalkLanes at a time; a step
  // buffer holds at most kWalkColumns steps of every lane (128 KB).
  static constexpr int32_t kWalkColumns = 1024;

  struct Buffer {
    double x[kBlock];
    double y[kBlock];
    double z[kBlock];
  };

  // Step `column` of lane r of the last chunk: its x; y and z follow,
  // stride() doubles apart.
  const double *step(int32_t r, int32_t column) const {
    return steps_[current_].data() + static_cast<std::ptrdiff_t>(r) * chunk_capacity_ + column;
  }

  // The steps of columns [column, column + count) of lane r into q.
  void copy_steps(Buffer &q, int32_t at, int32_t r, int32_t column, int32_t count) const {
    const double *from = step(r, column);
    const auto bytes = static_cast<std::size_t>(count) * sizeof(double);
    std::memcpy(q.x + at, from, bytes);
    std::memcpy(q.y + at, from + stride(), bytes);
    std::memcpy(q.z + at, from + 2 * stride(), bytes);
  }

  // The pixel index of column `column` of the chunk's lane r.
  std::ptrdiff_t pixel(int32_t r, int32_t column) const {
    return static_cast<std::ptrdiff_t>(chunk_row_ + r) * columns_ + chunk_column_ + column;
  }

  // Up to piece_ columns of one lane: the lanes of a chunk in turn, piece_
  // columns at a time, each lane up to its end. The block points into the
  // step buffer, which the next step_on() leaves alone: it fills the
  // other one, and one call never steps on twice here (every chunk holds
  // a piece unless the walk stopped).
  Block next_piece(Buffer &q) {
    while (true) {
      if (lane_ < lanes_ready_ && column_in_chunk_ < ends_[lane_]) break;
      if (lane_ < lanes_ready_) {
        ++lane_;
      } else if (column_in_chunk_ + piece_ < chunk_) {
        lane_ = 0;
        column_in_chunk_ += piece_;
      } else if (finished_) {
        return Block{q.x, q.y, q.z, 0, false, 0};
      } else {
        step_on();
      }
    }
    const int32_t count = std::min(piece_, ends_[lane_] - column_in_chunk_);
    const double *x = step(lane_, column_in_chunk_);
    const Block block{x,     x + stride(), x + 2 * stride(),
                      count, false,        pixel(lane_, column_in_chunk_)};
    ++lane_;
    return block;
  }

  // Up to kBlock pixels in pixel order, across the ends of rows: each lane
  // of a chunk to its end, then the next.
  Block next_rows(Buffer &q) {
    const std::ptrdiff_t first = handed_out_;
    int32_t n = 0;
    while (n < kBlock) {
      if (lane_ == lanes_ready_) {
        if (finished_) break;
        step_on();
        continue;
      }
      const int32_t count = std::min(kBlock - n, ends_[lane_] - column_in_chunk_);
      copy_steps(q, n, lane_, column_in_chunk_, count);
      n += count;
      column_in_chunk_ += count;
      if (column_in_chunk_ == ends_[lane_]) {
        ++lane_;
        column_in_chunk_ = 0;
      }
    }
    handed_out_ += n;
    return Block{q.x, q.y, q.z, n, false, first};
  }

  // Doubles per array of the step buffer: qx, qy, qz, then w.
  std::ptrdiff_t stride() const {
    return static_cast<std::ptrdiff_t>(kWalkLanes) * chunk_capacity_;
  }

  // Steps the current rows through their next chunk of columns, starting
  // the next group of rows first when the last one is done, and finds how
  // much of the chunk is handed out: all of it, or up to the first zero W
  // in pixel order (none when W stayed exactly 1).
  void step_on() {
    if (column_ == 0) start_rows();
    const int32_t chunk = std::min(chunk_capacity_, columns_ - column_);
    chunk_ = chunk;
    chunk_row_ = rows_done_;
    chunk_column_ = column_;
    current_ ^= 1;
    double *qx = steps_[current_].data();
    double *w = qx + 3 * stride();
    const bool unit_w =
        plans_.walk_rows(&walk_, chunk, chunk_capacity_, qx, qx + stride(), qx + 2 * stride(), w);
    lanes_ready_ = group_;
    for (int32_t r = 0; r < group_; ++r) ends_[r] = chunk;
    for (int32_t r = 0; r < group_ && !unit_w && !stopped_; ++r) {
      for (int32_t i = 0; i < chunk; ++i) {
        if (w[static_cast<std::ptrdiff_t>(r) * chunk_capacity_ + i] == 0.0) {
          ends_[r] = i;
          lanes_ready_ = r + 1;
          stopped_ = true;
          finished_ = true;
          break;
        }
      }
    }
    lane_ = 0;
    column_in_chunk_ = 0;
    column_ += chunk;
    if (column_ == columns_) {
      column_ = 0;
      rows_done_ += group_;
      if (rows_done_ >= rows_) finished_ = true;
    }
  }

  // The starts of the next group of rows, one per lane; lanes beyond the
  // last row are stepped too, and never handed out.
  void start_rows() {
    group_ =
        static_cast<int32_t>(std::min<int64_t>(lanes_, static_cast<int64_t>(rows_) - rows_done_));
    for (int32_t r = 0; r < kWalkLanes; ++r) {
      const double j = static_cast<double>(rows_done_) + 1.0 + static_cast<double>(r);
      walk_.x[r] = (m_[8] * 0.0 + m_[12]) + j * m_[4];
      walk_.y[r] = (m_[9] * 0.0 + m_[13]) + j * m_[5];
      walk_.z[r] = (m_[10] * 0.0 + m_[14]) + j * m_[6];
      walk_.w[r] = (m_[11] * 0.0 + m_[15]) + j * m_[7];
    }
  }

  const double *m_;
  int32_t columns_;
  int32_t rows_;
  int32_t piece_;
  const PlanKernels &plans_;
  int32_t lanes_;
  bool finished_;
  bool stopped_ = false;
  int32_t chunk_capacity_ = 0;
  // Two step buffers, each chunk in the other: a block handed out of one
  // stays whole while the next chunk is stepped.
  std::vector<double> steps_[2];
  int current_ = 0;
  RowWalk walk_{};
  // Rows finished, the rows of the current group, and the columns of it
  // stepped so far.
  int32_t rows_done_ = 0;
  int32_t group_ = 0;
  int32_t column_ = 0;
  // The last chunk: its columns, the row of its lane 0 and its first
  // column; what it hands out, lanes 0 .. lanes_ready_ - 1, each up to its
  // end; and how far it has been handed out.
  int32_t chunk_ = 0;
  int32_t chunk_row_ = 0;
  int32_t chunk_column_ = 0;
  int32_t ends_[kWalkLanes] = {};
  int32_t lanes_ready_ = 0;
  int32_t lane_ = 0;
  int32_t column_in_chunk_ = 0;
  // Pixels handed out in pixel order so far.
  std::ptrdiff_t handed_out_ = 0;
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
