#include "sampling.h"

#include <cmath>
#include <vector>

#include "cli_error.h"
#include "kernel_reach.h"
#include "text_numbers.h"

namespace vacli {

namespace {

constexpr std::size_t kBatch = 1 << 14;

struct Batch {
  std::vector<double> x, y, z, value, dx, dy, dz;
  std::vector<std::string> echo;
  // Columns of every volume, one string per point, filled volume by volume.
  std::vector<std::string> lines;

  void clear() {
    x.clear();
    y.clear();
    z.clear();
    echo.clear();
  }
};

void sample_volume(const MappedVolume &volume, Batch &b, const SampleOptions &options) {
  const std::size_t n = b.x.size();
  b.value.assign(n, 0);
  const auto m = static_cast<int32_t>(n);
  int32_t status;
  if (options.gradient) {
    b.dx.assign(n, 0);
    b.dy.assign(n, 0);
    b.dz.assign(n, 0);
    status = resample_d(m, &volume.map(), b.value.data(), b.dx.data(), b.dy.data(), b.dz.data(), b.x.data(),
                        b.y.data(), b.z.data(), options.hold, options.background);
  } else {
    status = resample(m, &volume.map(), b.value.data(), b.x.data(), b.y.data(), b.z.data(), options.hold,
                      options.background);
  }
  if (status != 0) fail(volume.name(), "the volume library does not know its datatype");
  for (std::size_t i = 0; i < n; ++i) {
    std::string &text = b.lines[i];
    if (!text.empty()) text += ' ';
    text += format_double(b.value[i]);
    if (options.gradient) text += " " + format_double(b.dx[i]) + " " + format_double(b.dy[i]) + " " + format_double(b.dz[i]);
  }
}

void run_batch(const std::vector<const MappedVolume *> &volumes, Batch &b, const SampleOptions &options,
               std::FILE *out) {
  const std::size_t n = b.x.size();
  if (n == 0) return;
  b.lines.assign(n, std::string());
  if (options.echo) b.lines = b.echo;
  for (const MappedVolume *volume : volumes) sample_volume(*volume, b, options);
  for (std::string &text : b.lines) {
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out);
  }
  b.clear();
}

// World points go to 1-based voxel coordinates through the inverse of
// the record's matrix; 0-based voxel points are shifted by one.
Vec3 to_voxel1(const Vec3 &p, PointFrame frame, const Mat4 &world_to_voxel) {
  switch (frame) {
    case PointFrame::Voxel0: return Vec3{p[0] + 1, p[1] + 1, p[2] + 1};
    case PointFrame::World: return apply_point(world_to_voxel, p);
    case PointFrame::Voxel1: break;
  }
  return p;
}

}  // namespace

PointLine parse_point_line(const std::string &line) {
  PointLine result;
  if (is_blank_or_comment(line)) {
    result.skip = true;
    return result;
  }
  const std::vector<std::string> fields = split_fields(line);
  if (fields.size() != 3) {
    result.problem = "expected three numbers, found " + std::to_string(fields.size()) + " fields";
    return result;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const std::optional<double> v = to_double(fields[i]);
    if (!v) {
      result.problem = "'" + fields[i] + "' is not a number";
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
                          const SampleOptions &options, std::FILE *out) {
  const MappedVolume &first = *volumes.front();
  Mat4 world_to_voxel = identity4();
  if (options.frame == PointFrame::World && !invert(first.voxel_to_world(), &world_to_voxel))
    fail(first.name(), "its voxel-to-world matrix is singular, so world coordinates have no voxel");
  SampleCount count;
  Batch batch;
  std::string line;
  while (input.next(&line)) {
    const PointLine parsed = parse_point_line(line);
    if (parsed.skip) continue;
    if (!parsed.problem.empty()) fail(input.name() + ":" + std::to_string(input.line_number()), parsed.problem);
    const Vec3 p = to_voxel1(parsed.point, options.frame, world_to_voxel);
    ++count.points;
    if (!within_reach(first.map().dim, options.hold, options.gradient, p)) ++count.outside;
    batch.x.push_back(p[0]);
    batch.y.push_back(p[1]);
    batch.z.push_back(p[2]);
    if (options.echo) batch.echo.push_back(parsed.text);
    if (batch.x.size() == kBatch) run_batch(volumes, batch, options, out);
  }
  run_batch(volumes, batch, options, out);
  return count;
}

std::string outside_note(const SampleCount &count, const SampleOptions &options, const std::string &image) {
  if (count.outside == 0) return "";
  const std::string background = format_double(options.background);
  if (count.outside == count.points && !options.frame_given)
    return "every point lies outside " + image +
           " (values are the background, " + background +
           "); points are read as 1-based voxel coordinates: for millimetres add --coords world";
  return "points outside " + image + ": " + std::to_string(count.outside) + " of " + std::to_string(count.points) +
         " (their values are the background, " + background + ")";
}

}  // namespace vacli
