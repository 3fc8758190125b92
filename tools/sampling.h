// Sampling a volume at points read from text: one output line per point.
#ifndef VOLACCESS_TOOLS_SAMPLING_H
#define VOLACCESS_TOOLS_SAMPLING_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "line_reader.h"
#include "matrix.h"
#include "point_table.h"
#include "volume_description.h"
#include "workers.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

// How the three numbers of a point line are meant.
enum class PointFrame { Voxel1, Voxel0, World };

struct SampleOptions {
  PointFrame frame = PointFrame::Voxel1;
  bool lps = false;  // world points in LPS (x left, y back), as ITK and ANTs write them
  int32_t hold = 1;  // a hold code of the volume library, or kLabelHold
  double background = 0;
  bool gradient = false;     // value and its derivatives along x, y, z per voxel
  bool echo = false;         // each line starts with the point's three numbers as read
  bool frame_given = false;  // --coords was on the command line
  bool table = false;        // the input is a CSV table with a header row
};

// A line of a point file: three numbers.
PointLine parse_point_line(const std::string &line);

// The "%.17g" text of v, which reads back to the same
// double; every NaN is written "nan".
std::string format_double(double v);

// What became of the points: how many, and how many lay where the
// kernel does not reach (their values are the background).
struct SampleCount {
  uint64_t points = 0;
  uint64_t outside = 0;
};

// Samples every volume (all of one image, sharing its geometry) at every
// point of `input` and writes one line per point to `out`, in input order:
// the value (and derivatives) of each volume in turn, after the row itself
// for a table, whose header row gains the new columns' names. Points go to the
// library in batches, several at a time among the workers; the output does
// not depend on their number. A bad line fails after the batches before
// its own are written.
SampleCount sample_points(const std::vector<const MappedVolume *> &volumes, LineReader &input,
                          const SampleOptions &options, const Workers &workers, std::FILE *out);

// The note for standard error about points outside the image, empty when
// none were; it suggests --coords world when every point missed and the
// frame was left to its default.
std::string outside_note(const SampleCount &count, const SampleOptions &options, const std::string &image);

}  // namespace vacli

#endif
