// Sampling a volume at points read from text: one output line per point.
#ifndef VOLACCESS_TOOLS_SAMPLING_H
#define VOLACCESS_TOOLS_SAMPLING_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "line_reader.h"
#include "matrix.h"
#include "volume_description.h"

namespace vacli {

// How the three numbers of a point line are meant.
enum class PointFrame { Voxel1, Voxel0, World };

struct SampleOptions {
  PointFrame frame = PointFrame::Voxel1;
  int32_t hold = 1;
  double background = 0;
  bool gradient = false;  // value and its derivatives along x, y, z per voxel
};

// One line of a point file: blank and comment lines are skipped; any
// other line must hold exactly three numbers.
struct PointLine {
  bool skip = false;
  Vec3 point{};
  std::string problem;  // empty when the line is good
};
PointLine parse_point_line(const std::string &line);

// The "%.17g" text of v, which reads back to the same
// double; every NaN is written "nan".
std::string format_double(double v);

// Samples `volume` at every point of `input` and writes one line per
// point to `out`. Points go to the library in batches.
void sample_points(const MappedVolume &volume, LineReader &input, const SampleOptions &options, std::FILE *out);

}  // namespace vacli

#endif
