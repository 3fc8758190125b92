#include "transforms.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "errors.h"
#include "hdf5_transforms.h"
#include "line_reader.h"
#include "nifti_image.h"
#include "text_numbers.h"
#include "unique_fd.h"

namespace vaeng {

namespace {

// A .mat transform is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxMatBytes = 1 << 20;

using Matrix3 = std::array<double, 9>;  // row by row

Matrix3 product(const Matrix3 &a, const Matrix3 &b) {
  Matrix3 p{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) p[3 * r + c] = a[3 * r] * b[c] + a[3 * r + 1] * b[3 + c] + a[3 * r + 2] * b[6 + c];
  return p;
}

// ITK's centred form: p -> A (p - c) + t + c, that is offset t + c - A c.
Mat4 centred_affine(const Matrix3 &a, const Vec3 &translation, const Vec3 &centre) {
  Mat4 m = identity4();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[4 * c + r] = a[3 * r + c];
    const double ac = a[3 * r] * centre[0] + a[3 * r + 1] * centre[1] + a[3 * r + 2] * centre[2];
    m[12 + r] = translation[r] + centre[r] - ac;
  }
  return m;
}

// Rotations about x, y and z, combined as Rz Rx Ry (or Rz Ry Rx when the
// fourth fixed parameter asks for it), as ITK's Euler transform does.
Matrix3 euler_matrix(double ax, double ay, double az, bool zyx) {
  const double cx = std::cos(ax), sx = std::sin(ax);
  const double cy = std::cos(ay), sy = std::sin(ay);
  const double cz = std::cos(az), sz = std::sin(az);
  const Matrix3 rx{1, 0, 0, 0, cx, -sx, 0, sx, cx};
  const Matrix3 ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
  const Matrix3 rz{cz, -sz, 0, sz, cz, 0, 0, 0, 1};
  return zyx ? product(rz, product(ry, rx)) : product(rz, product(rx, ry));
}

// The rotation of a versor given by its vector part (x, y, z); w follows
// from the unit norm. A vector part of length 1 or more is scaled just
// below 1, as ITK does.
Matrix3 versor_matrix(double x, double y, double z) {
  const double norm = std::sqrt(x * x + y * y + z * z);
  if (norm >= 1.0 - 1e-10) {
    const double scaled = norm + 1e-10 * norm;
    x /= scaled;
    y /= scaled;
    z /= scaled;
  }
  const double w = std::sqrt(std::fmax(0.0, 1.0 - (x * x + y * y + z * z)));
  return Matrix3{1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y - z * w),       2.0 * (x * z + y * w),
                 2.0 * (x * y + z * w),       1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z - x * w),
                 2.0 * (x * z - y * w),       2.0 * (y * z + x * w),       1.0 - 2.0 * (x * x + y * y)};
}

// The transform's name without its "_double_3_3" (or float, or "_3") tail.
std::string base_type(const std::string &type, const std::string &where) {
  for (const char *precision : {"_double_", "_float_"}) {
    const std::size_t at = type.find(precision);
    if (at == std::string::npos) continue;
    const std::string dims = type.substr(at + std::strlen(precision));
    if (dims != "3_3" && dims != "3")
      fail(where, quoted(type) + " is not a 3-D transform (only 3-D transforms apply to volumes)");
    return type.substr(0, at);
  }
  fail(where, quoted(type) + " is not an ITK transform type name (expected e.g. AffineTransform_double_3_3)");
}

void expect_counts(const std::string &type, const std::vector<double> &parameters, std::size_t n_parameters,
                   const std::vector<double> &fixed, std::size_t min_fixed, std::size_t max_fixed,
                   const std::string &where) {
  if (parameters.size() != n_parameters)
    fail(where,
         type + " needs " + std::to_string(n_parameters) + " parameters, found " + std::to_string(parameters.size()));
  if (fixed.size() < min_fixed || fixed.size() > max_fixed)
    fail(where, type + " needs " + std::to_string(min_fixed) + " fixed parameters (the centre), found " +
                    std::to_string(fixed.size()));
}

Vec3 centre_of(const std::vector<double> &fixed) {
  return fixed.size() >= 3 ? Vec3{fixed[0], fixed[1], fixed[2]} : Vec3{0, 0, 0};
}

std::vector<double> numbers_after(const std::string &line, std::size_t colon, const std::string &where) {
  std::vector<double> values;
  for (const std::string &field : split_fields(line.substr(colon + 1))) {
    const std::optional<double> v = to_double(field);
    if (!v || !std::isfinite(*v)) fail(where, quoted(field) + " is not a finite number");
    values.push_back(*v);
  }
  return values;
}

// One entry of a transform file before it is turned into a matrix.
struct Entry {
  std::string type;
  std::vector<double> parameters;
  std::vector<double> fixed;
  std::string where;
  bool has_parameters = false;
  bool has_fixed = false;
};

// A .mat file holds its numbers in binary, where NaN and infinity pass
// every count: refused here, or the output would be all background.
void check_finite(const std::vector<double> &values, const std::string &field, const std::string &where) {
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!std::isfinite(values[i]))
      fail(where, field + " " + std::to_string(i + 1) + " is " + shortest_text(values[i]) + ", not a finite number");
}

bool is_composite(const std::string &type) { return type.rfind("CompositeTransform_", 0) == 0; }

FileTransform affine_entry(const Entry &e) {
  check_finite(e.parameters, "parameter", e.where);
  check_finite(e.fixed, "fixed parameter", e.where);
  FileTransform t;
  t.ras = lps_to_ras(itk_transform_lps(e.type, e.parameters, e.fixed, e.where));
  t.name = e.where;
  return t;
}

std::vector<FileTransform> read_itk_text(const std::string &path) {
  LineReader reader(path);
  std::vector<Entry> entries;
  std::string line;
  while (reader.next(&line)) {
    const std::string where = path + ":" + std::to_string(reader.line_number());
    if (is_blank_or_comment(line)) continue;
    const std::size_t colon = line.find(':');
    const std::string key = colon == std::string::npos ? line : line.substr(0, colon);
    if (key == "Transform") {
      const std::vector<std::string> words = split_fields(line.substr(colon + 1));
      if (words.size() != 1) fail(where, "expected one transform type name after 'Transform:'");
      entries.push_back(Entry{words[0], {}, {}, path + " (transform " + std::to_string(entries.size()) + ")"});
    } else if (key == "Parameters" || key == "FixedParameters") {
      if (entries.empty()) fail(where, key + " before any 'Transform:' line");
      Entry &e = entries.back();
      bool &seen = key == "Parameters" ? e.has_parameters : e.has_fixed;
      // Two would leave one of them unused without a word.
      if (seen) fail(where, "a second '" + key + ":' line for one transform");
      seen = true;
      (key == "Parameters" ? e.parameters : e.fixed) = numbers_after(line, colon, where);
    } else {
      fail(where, "unexpected line in an ITK transform file: " + quoted(line));
    }
  }
  std::vector<FileTransform> out;
  for (const Entry &e : entries)
    if (!is_composite(e.type)) out.push_back(affine_entry(e));
  if (out.empty()) fail(path, "holds no transform");
  return out;
}

std::vector<FileTransform> read_mat(const std::string &path, const std::vector<unsigned char> &bytes) {
  const std::vector<MatVariable> variables = parse_mat4(bytes.data(), bytes.size(), path);
  std::vector<Entry> entries;
  for (const MatVariable &v : variables) {
    if (v.name == "fixed") {
      if (entries.empty()) fail(path, "holds 'fixed' parameters before any transform");
      if (entries.back().has_fixed) fail(path, "holds two 'fixed' variables for " + entries.back().type);
      entries.back().fixed = v.values;
      entries.back().has_fixed = true;
    } else {
      entries.push_back(Entry{v.name, v.values, {}, path + " (" + v.name + ")", true, false});
    }
  }
  std::vector<FileTransform> out;
  for (const Entry &e : entries)
    if (!is_composite(e.type)) out.push_back(affine_entry(e));
  if (out.empty()) fail(path, "holds no transform");
  return out;
}

std::vector<FileTransform> read_field(const std::string &path) {
  const NiftiHeader h = NiftiImage::read_header(path);
  const NiftiSeries &s = h.series;
  if (s.rank != 5 || s.dim[0] != 1 || s.dim[1] != 3 || s.intent_code != kNiftiIntentVector)
    fail(path,
         "is a NIfTI image but not a displacement field: a field has 5 dimensions (x, y, z, 1, 3) and the "
         "vector intent (1007); this one has " +
             std::to_string(s.rank) + " dimensions and intent " + std::to_string(s.intent_code));
  FileTransform t;
  t.kind = FileTransform::Kind::Field;
  t.field_path = path;
  t.name = path;
  return {t};
}

std::vector<unsigned char> read_small_file(const std::string &path, int fd) {
  const uint64_t size = file_size(fd, path);
  if (size > kMaxMatBytes) fail(path, "is too large for a .mat transform (" + std::to_string(size) + " bytes)");
  std::vector<unsigned char> bytes(size);
  if (!bytes.empty() && read_at(fd, bytes.data(), bytes.size(), 0, path) != bytes.size())
    fail(path, "cannot read the whole file");
  return bytes;
}

bool is_nifti_start(const unsigned char *bytes, std::size_t size) {
  if (size < 4) return false;
  int32_t field;
  std::memcpy(&field, bytes, 4);
  const int32_t swapped = static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(field)));
  return field == 348 || field == 540 || swapped == 348 || swapped == 540;
}

// What the file's first bytes say it is.
enum class TransformFileKind { ItkText, Field, Mat, Hdf5, Other };

TransformFileKind transform_file_kind(const std::string &path) {
  const UniqueFd fd = open_regular_file(path);
  unsigned char start[32] = {};
  const std::size_t got = read_at(fd.get(), start, sizeof start, 0, path);
  static const char kItkText[] = "#Insight Transform File";
  if (got >= sizeof kItkText - 1 && std::memcmp(start, kItkText, sizeof kItkText - 1) == 0)
    return TransformFileKind::ItkText;
  const bool gzip = got >= 2 && start[0] == 0x1f && start[1] == 0x8b;
  if (gzip || is_nifti_start(start, got)) return TransformFileKind::Field;
  if (looks_like_mat4(start, got)) return TransformFileKind::Mat;
  if (is_hdf5_start(start, got)) return TransformFileKind::Hdf5;
  return TransformFileKind::Other;
}

Mat4 read_matrix_lines(const std::string &path) {
  LineReader reader(path);
  std::array<double, 16> rows{};
  std::size_t count = 0;
  std::string line;
  while (reader.next(&line)) {
    if (is_blank_or_comment(line)) continue;
    const std::string where = path + ":" + std::to_string(reader.line_number());
    if (count == 16) fail(where, "more than four rows in a 4x4 matrix");
    const std::vector<std::string> fields = split_fields(line);
    if (fields.size() != 4) fail(where, "expected four numbers, found " + std::to_string(fields.size()) + " fields");
    for (const std::string &f : fields) {
      const std::optional<double> v = to_double(f);
      if (!v || !std::isfinite(*v)) fail(where, quoted(f) + " is not a finite number");
      rows[count++] = *v;
    }
  }
  if (count != 16) fail(path, "expected four rows of four numbers, found " + std::to_string(count / 4));
  if (rows[12] != 0 || rows[13] != 0 || rows[14] != 0 || rows[15] != 1)
    fail(path, "the last row of the matrix must be 0 0 0 1");
  return from_rows(rows);
}

}  // namespace

Mat4 itk_transform_lps(const std::string &type, const std::vector<double> &p, const std::vector<double> &fixed,
                       const std::string &where) {
  const std::string base = base_type(type, where);
  if (base == "AffineTransform" || base == "MatrixOffsetTransformBase") {
    expect_counts(type, p, 12, fixed, 3, 3, where);
    const Matrix3 a{p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8]};
    return centred_affine(a, Vec3{p[9], p[10], p[11]}, centre_of(fixed));
  }
  if (base == "Euler3DTransform") {
    expect_counts(type, p, 6, fixed, 3, 4, where);
    const bool zyx = fixed.size() == 4 && fixed[3] != 0;
    return centred_affine(euler_matrix(p[0], p[1], p[2], zyx), Vec3{p[3], p[4], p[5]}, centre_of(fixed));
  }
  if (base == "VersorRigid3DTransform") {
    expect_counts(type, p, 6, fixed, 3, 3, where);
    return centred_affine(versor_matrix(p[0], p[1], p[2]), Vec3{p[3], p[4], p[5]}, centre_of(fixed));
  }
  if (base == "Similarity3DTransform") {
    expect_counts(type, p, 7, fixed, 3, 3, where);
    Matrix3 a = versor_matrix(p[0], p[1], p[2]);
    for (double &v : a) v *= p[6];
    return centred_affine(a, Vec3{p[3], p[4], p[5]}, centre_of(fixed));
  }
  if (base == "TranslationTransform") {
    expect_counts(type, p, 3, fixed, 0, 0, where);
    return translation4(p[0], p[1], p[2]);
  }
  if (base == "IdentityTransform") {
    expect_counts(type, p, 0, fixed, 0, 0, where);
    return identity4();
  }
  fail(where, "transform type '" + type +
                  "' is not supported (AffineTransform, MatrixOffsetTransformBase, Euler3DTransform, "
                  "VersorRigid3DTransform, Similarity3DTransform, TranslationTransform, IdentityTransform)");
}

Mat4 lps_to_ras(const Mat4 &lps) {
  const Mat4 flip{-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  return multiply(flip, multiply(lps, flip));
}

std::vector<FileTransform> read_transform_file(const std::string &path) {
  switch (transform_file_kind(path)) {
    case TransformFileKind::ItkText: return read_itk_text(path);
    case TransformFileKind::Field: return read_field(path);
    case TransformFileKind::Mat: {
      const UniqueFd fd = open_regular_file(path);
      return read_mat(path, read_small_file(path, fd.get()));
    }
    case TransformFileKind::Hdf5: return read_hdf5_transforms(path);
    case TransformFileKind::Other: break;
  }
  fail(path,
       "is not a transform: none of an ITK transform text file ('#Insight Transform File'), an ITK HDF5 "
       "transform file, a MATLAB level-4 .mat transform, or a NIfTI displacement field (a 4x4 matrix goes to "
       "--affine, a FLIRT matrix to --fsl)");
}

Mat4 read_matrix_file(const std::string &path, const std::string &option) {
  try {
    return read_matrix_lines(path);
  } catch (const Error &) {
    // A transform file given to the wrong option fails on its first line
    // with a count of numbers that explains nothing; it is named instead.
    // Pipes are read once, and left as they failed.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw;
    const TransformFileKind kind = transform_file_kind(path);
    if (kind == TransformFileKind::Other) throw;
    const char *what = kind == TransformFileKind::ItkText ? "an ITK transform text file"
                       : kind == TransformFileKind::Mat   ? "a MATLAB .mat transform"
                       : kind == TransformFileKind::Hdf5  ? "an ITK HDF5 transform file"
                                                          : "a NIfTI image (a displacement field?)";
    fail(path, std::string("is ") + what + ", which --transform reads; " + option +
                   " expects a 4x4 matrix: four lines of four numbers");
  }
}

Mat4 flirt_scaled_voxels(const NiftiHeader &header) {
  const Mat4 &q = header.voxel_to_world;
  const double det = at(q, 0, 0) * (at(q, 1, 1) * at(q, 2, 2) - at(q, 1, 2) * at(q, 2, 1)) -
                     at(q, 0, 1) * (at(q, 1, 0) * at(q, 2, 2) - at(q, 1, 2) * at(q, 2, 0)) +
                     at(q, 0, 2) * (at(q, 1, 0) * at(q, 2, 1) - at(q, 1, 1) * at(q, 2, 0));
  const double dx = std::fabs(header.geometry.pixdim[0]);
  const double dy = std::fabs(header.geometry.pixdim[1]);
  const double dz = std::fabs(header.geometry.pixdim[2]);
  Mat4 m = identity4();
  m[0] = dx;
  m[5] = dy;
  m[10] = dz;
  if (det > 0) {
    m[0] = -dx;
    m[12] = static_cast<double>(header.dim[0] - 1) * dx;
  }
  return m;
}

Mat4 flirt_to_world(const Mat4 &flirt, const NiftiHeader &source, const NiftiHeader &reference,
                    const std::string &name) {
  Mat4 flirt_inverse{}, source_scaled_inverse{}, reference_world_inverse{};
  if (!invert(flirt, &flirt_inverse)) fail(name, "the FLIRT matrix is singular");
  if (!invert(flirt_scaled_voxels(source), &source_scaled_inverse))
    fail(name, "the source has a voxel size of 0, so FLIRT's coordinates do not apply");
  if (!invert(reference.voxel_to_world, &reference_world_inverse))
    fail(name, "the reference's voxel-to-world matrix is singular");
  const Mat4 reference_scaled = multiply(flirt_scaled_voxels(reference), reference_world_inverse);
  return multiply(source.voxel_to_world, multiply(source_scaled_inverse, multiply(flirt_inverse, reference_scaled)));
}

}  // namespace vaeng
