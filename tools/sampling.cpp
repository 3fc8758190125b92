#include "sampling.h"

#include <cerrno>
#include <cmath>
#include <exception>
#include <memory>
#include <vector>

#include "arguments.h"
#include "errors.h"
#include "kernel_reach.h"
#include "source_grid.h"
#include "text_numbers.h"

namespace vacli {

namespace {

constexpr std::size_t kBatch = 1 << 14;

// Up to kBatch point lines in input order, with their line numbers; then
// their points, and once sampled the text of their output lines, or the
// first problem among them.
struct Batch {
  std::vector<std::string> lines;
  std::vector<long> numbers;
  std::vector<double> x, y, z, value, dx, dy, dz;
  // Columns of every volume, one string per point, filled volume by volume
  // after the echoed numbers.
  std::vector<std::string> columns;
  SampleCount count;
  std::string text;
  std::string problem_at;  // "<input>:<line>" of the first bad line
  std::string problem;
};

// One volume to sample, with the label rule over its voxels when labels are asked for.
struct VolumeColumn {
  const MappedVolume *volume;
  std::unique_ptr<SourceGrid> labels;
};

// World points go to 1-based voxel coordinates through the inverse of
// the record's matrix (LPS points are turned to RAS first); 0-based voxel
// points are shifted by one.
Vec3 to_voxel1(const Vec3 &p, const SampleOptions &options, const Mat4 &world_to_voxel) {
  switch (options.frame) {
    case PointFrame::Voxel0: return Vec3{p[0] + 1, p[1] + 1, p[2] + 1};
    case PointFrame::World: return apply_point(world_to_voxel, options.lps ? Vec3{-p[0], -p[1], p[2]} : p);
    case PointFrame::Voxel1: break;
  }
  return p;
}

// The points of the batch's lines (and their echo and count), or false
// with the first problem.
bool parse_batch(Batch &b, const std::string &input_name, const VolumeMap &first, const SampleOptions &options,
                 const TableColumns &columns, const Mat4 &world_to_voxel) {
  // Labels reach where the trilinear kernel does, whose weights they use.
  const int32_t reach_hold = options.hold == kLabelHold ? 1 : options.hold;
  const std::size_t n = b.lines.size();
  b.x.resize(n);
  b.y.resize(n);
  b.z.resize(n);
  b.columns.assign(n, std::string());
  for (std::size_t i = 0; i < n; ++i) {
    const PointLine parsed = options.table ? parse_table_row(b.lines[i], columns) : parse_point_line(b.lines[i]);
    if (!parsed.problem.empty()) {
      b.problem_at = input_name + ":" + std::to_string(b.numbers[i]);
      b.problem = parsed.problem;
      return false;
    }
    const Vec3 p = to_voxel1(parsed.point, options, world_to_voxel);
    ++b.count.points;
    if (!volaccess::within_reach(first.dim, reach_hold, options.gradient, p[0], p[1], p[2])) ++b.count.outside;
    b.x[i] = p[0];
    b.y[i] = p[1];
    b.z[i] = p[2];
    if (options.echo || options.table) b.columns[i] = parsed.text;
  }
  return true;
}

// Adds the columns of one volume; false, with the problem kept in the
// batch to be reported in input order, when the library refuses.
bool sample_volume(const VolumeColumn &column, Batch &b, const SampleOptions &options) {
  const MappedVolume &volume = *column.volume;
  const std::size_t n = b.x.size();
  b.value.assign(n, 0);
  const auto m = static_cast<int32_t>(n);
  int32_t status = 0;
  if (column.labels) {
    column.labels->labels_at(m, b.x.data(), b.y.data(), b.z.data(), options.background, b.value.data());
  } else if (options.gradient) {
    b.dx.assign(n, 0);
    b.dy.assign(n, 0);
    b.dz.assign(n, 0);
    status = resample_d(m, &volume.map(), b.value.data(), b.dx.data(), b.dy.data(), b.dz.data(), b.x.data(), b.y.data(),
                        b.z.data(), options.hold, options.background);
  } else {
    status = resample(m, &volume.map(), b.value.data(), b.x.data(), b.y.data(), b.z.data(), options.hold,
                      options.background);
  }
  if (status != 0) {
    b.problem_at = volume.name();
    b.problem = "the volume library does not know its datatype";
    return false;
  }
  const char gap = options.table ? ',' : ' ';
  for (std::size_t i = 0; i < n; ++i) {
    std::string &text = b.columns[i];
    if (!text.empty()) text += gap;
    text += format_double(b.value[i]);
    if (options.gradient)
      text += gap + format_double(b.dx[i]) + gap + format_double(b.dy[i]) + gap + format_double(b.dz[i]);
  }
  return true;
}

// Samples every volume at the batch's points and joins the output lines.
void sample_batch(const std::vector<VolumeColumn> &volumes, Batch &b, const SampleOptions &options) {
  if (b.x.empty()) return;
  for (const VolumeColumn &volume : volumes)
    if (!sample_volume(volume, b, options)) return;
  for (const std::string &columns : b.columns) {
    b.text += columns;
    b.text += '\n';
  }
}

void check_unchanged(const std::vector<const MappedVolume *> &volumes) {
  for (const MappedVolume *volume : volumes) volume->check_unchanged();
}

// Lines that hold no point: blank ones, and in a point file comments too.
bool skipped(const std::string &line, bool table) { return table ? trimmed(line).empty() : is_blank_or_comment(line); }

// The header row of a table with the new columns: "value" (and "dx", "dy",
// "dz"), numbered from 1 when there is a column per volume.
std::string table_header(const std::string &line, std::size_t volumes, bool gradient) {
  std::string header = strip_line_end(line);
  for (std::size_t t = 1; t <= volumes; ++t) {
    const std::string tail = volumes > 1 ? "_" + std::to_string(t) : "";
    header += ",value" + tail;
    if (gradient) header += ",dx" + tail + ",dy" + tail + ",dz" + tail;
  }
  return header + '\n';
}

// Reads point lines into batches until `count` batches are full or the
// input ends (*at_end). A failure to read comes back in *read_error, with
// the lines before it in the batches.
std::vector<Batch> read_batches(LineReader &input, std::size_t count, bool table, bool *at_end,
                                std::exception_ptr *read_error) {
  std::vector<Batch> batches;
  std::string line;
  try {
    while (!(batches.size() == count && batches.back().lines.size() == kBatch)) {
      const long number = input.line_number() + 1;
      if (!(table ? next_csv_record(input, &line) : input.next(&line))) {
        *at_end = true;
        break;
      }
      if (skipped(line, table)) continue;
      if (batches.empty() || batches.back().lines.size() == kBatch) batches.emplace_back();
      batches.back().lines.push_back(line);
      batches.back().numbers.push_back(number);
    }
  } catch (const Error &) {
    *read_error = std::current_exception();
    *at_end = true;
  }
  return batches;
}

}  // namespace

PointLine parse_point_line(const std::string &line) {
  PointLine result;
  if (is_blank_or_comment(line)) {
    result.skip = true;
    return result;
  }
  const std::vector<std::string> fields = split_fields(line);
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i].empty()) {
      result.problem = "field " + std::to_string(i + 1) + " is empty";
      return result;
    }
  if (fields.size() != 3) {
    result.problem = "expected three numbers, found " + std::to_string(fields.size()) + " fields";
    return result;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const std::optional<double> v = to_double(fields[i]);
    if (!v) {
      result.problem = quoted(fields[i]) + " is not a number";
      return result;
    }
    result.point[i] = *v;
  }
  result.text = fields[0] + " " + fields[1] + " " + fields[2];
  return result;
}

std::string format_double(double v) {
  if (std::isnan(v)) return "nan";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

SampleCount sample_points(const std::vector<const MappedVolume *> &volumes, LineReader &input,
                          const SampleOptions &options, const Workers &workers, std::FILE *out) {
  const MappedVolume &first = *volumes.front();
  Mat4 world_to_voxel = identity4();
  if (options.frame == PointFrame::World && !invert(first.voxel_to_world(), &world_to_voxel))
    fail(first.name(), "its voxel-to-world matrix is singular, so world coordinates have no voxel");
  std::vector<VolumeColumn> columns_of_volumes;
  for (const MappedVolume *v : volumes)
    columns_of_volumes.push_back(
        VolumeColumn{v, options.hold == kLabelHold ? std::make_unique<SourceGrid>(*v) : nullptr});
  TableColumns table;
  if (options.table) {
    std::string line;
    if (!next_csv_record(input, &line)) fail(input.name(), "is empty: a point table starts with a header row");
    table = parse_table_header(line, input.name() + ":1");
    const std::string header = table_header(line, volumes.size(), options.gradient);
    std::fwrite(header.data(), 1, header.size(), out);
  }
  // Each round reads a few batches per thread, parses, samples and
  // formats them side by side, and writes them in input order, stopping
  // at the first bad line: the output is the same with any thread count.
  const auto per_round = static_cast<std::size_t>(2 * workers.threads());
  SampleCount count;
  bool at_end = false;
  while (!at_end) {
    std::exception_ptr read_error;
    std::vector<Batch> round = read_batches(input, per_round, options.table, &at_end, &read_error);
    // A file cut short within its last page reads zeros instead of
    // faulting: its size is checked before and after the round's batches,
    // which are sampled side by side, and before any of them is written.
    check_unchanged(volumes);
    workers.for_each(static_cast<int64_t>(round.size()), 1, [&](int64_t begin, int64_t end) {
      for (int64_t t = begin; t < end; ++t) {
        Batch &b = round[static_cast<std::size_t>(t)];
        if (parse_batch(b, input.name(), first.map(), options, table, world_to_voxel))
          sample_batch(columns_of_volumes, b, options);
      }
    });
    check_unchanged(volumes);
    // Each batch goes out whole: a later failure never leaves standard
    // output inside a line.
    for (const Batch &b : round) {
      if (!b.problem.empty()) fail(b.problem_at, b.problem);
      if (std::fwrite(b.text.data(), 1, b.text.size(), out) != b.text.size() || std::fflush(out) != 0)
        fail_system("standard output", "cannot write", errno);
      count.points += b.count.points;
      count.outside += b.count.outside;
    }
    if (read_error) std::rethrow_exception(read_error);
  }
  return count;
}

std::string outside_note(const SampleCount &count, const SampleOptions &options, const std::string &image) {
  if (count.outside == 0) return "";
  const std::string background = format_double(options.background);
  if (count.outside == count.points && !options.frame_given)
    return "every point lies outside " + image + " (values are the background, " + background +
           "); points are read as 1-based voxel coordinates: for millimetres add --coords world";
  return "points outside " + image + ": " + std::to_string(count.outside) + " of " + std::to_string(count.points) +
         " (their values are the background, " + background + ")";
}

}  // namespace vacli
