#include "header_text.h"

#include <cmath>
#include <cstring>

#include "errors.h"
#include "image_formats.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

// Longer lines are no header's: a NRRD or MetaImage field holds at most a
// few hundred numbers.
constexpr std::size_t kLongestLine = 1 << 16;

}  // namespace

std::vector<HeaderLine> header_lines(const unsigned char *bytes, std::size_t size, std::size_t *blank_end) {
  std::vector<HeaderLine> lines;
  *blank_end = 0;
  std::size_t start = 0;
  while (start < size) {
    const auto *found = static_cast<const unsigned char *>(std::memchr(bytes + start, '\n', size - start));
    const std::size_t end = found ? static_cast<std::size_t>(found - bytes) : size;
    // Binary data, where the header has ended.
    if (end - start > kLongestLine || std::memchr(bytes + start, 0, end - start)) break;
    std::string text(reinterpret_cast<const char *>(bytes) + start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const std::size_t next = end < size ? end + 1 : end;
    if (text.empty() && end < size) {
      *blank_end = next;
      break;
    }
    lines.push_back({text, next});
    start = next;
  }
  return lines;
}

std::string trimmed(const std::string &text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<double> field_numbers(const std::string &value, std::size_t count, const std::string &field,
                                  const std::string &name) {
  std::vector<double> numbers;
  for (const std::string &token : split_fields(value)) {
    if (token.empty()) continue;
    const std::optional<double> v = to_double(token);
    if (!v) fail(name, field + ": " + quoted(token) + " is not a number");
    numbers.push_back(*v);
  }
  if (count != 0 && numbers.size() != count)
    fail(name, field + " holds " + std::to_string(numbers.size()) + " numbers, not " + std::to_string(count));
  return numbers;
}

int64_t field_integer(const std::string &value, int64_t low, int64_t high, const std::string &field,
                      const std::string &name) {
  const std::optional<int64_t> v = to_integer(trimmed(value));
  if (!v || *v < low || *v > high)
    fail(name, field + ": " + quoted(trimmed(value)) + " is not a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high));
  return *v;
}

Mat4 flip_xy(const Mat4 &m) {
  Mat4 out = m;
  for (int c = 0; c < 4; ++c) {
    out[static_cast<std::size_t>(4 * c)] = -m[static_cast<std::size_t>(4 * c)];
    out[static_cast<std::size_t>(4 * c + 1)] = -m[static_cast<std::size_t>(4 * c + 1)];
  }
  return out;
}

double column_length(const Mat4 &m, int c, const std::string &name) {
  const double length = std::sqrt(at(m, 0, c) * at(m, 0, c) + at(m, 1, c) * at(m, 1, c) + at(m, 2, c) * at(m, 2, c));
  if (!(length > 0)) fail(name, "its voxel-to-world matrix has a zero column");
  return length;
}

void complete_header(NiftiHeader *out, const std::array<int64_t, 8> &dim, int datatype, uint64_t vox_offset,
                     const Mat4 &voxel_to_world, const char *matrix_source, const std::string &name) {
  out->single_file = false;
  check_image_shape(out, dim, datatype, static_cast<double>(vox_offset), 0, name);
  if (!all_finite(voxel_to_world))
    fail(name, std::string("the voxel-to-world matrix (") + matrix_source + ") has entries that are not finite");
  out->voxel_to_world = voxel_to_world;
  out->matrix_source = matrix_source;
  out->geometry = geometry_from_matrix(voxel_to_world);
  NiftiSeries &t = out->series;
  t.rank = static_cast<int>(dim[0]);
  for (std::size_t i = 0; i < 4; ++i) t.dim[i] = static_cast<int64_t>(i) + 4 <= dim[0] ? dim[i + 4] : 1;
}

bool swapped_on_this_machine(bool big_endian) { return big_endian != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__); }

}  // namespace vaeng
