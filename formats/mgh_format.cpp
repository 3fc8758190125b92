// FreeSurfer's MGH format: a big-endian header of fixed layout, the
// voxels from byte 284 (x fastest, then y, z and the frames), and a few
// optional scan parameters after them. MGZ is the same file gzip-compressed.
#include <cmath>
#include <cstring>

#include "errors.h"
#include "header_text.h"
#include "image_formats.h"
#include "nifti_writer.h"

namespace vaeng {

namespace {

// Byte positions of the header's fields.
constexpr std::size_t kDimsAt = 4;      // width, height, depth, frames: int32
constexpr std::size_t kTypeAt = 20;     // int32
constexpr std::size_t kGoodRasAt = 28;  // int16: the geometry fields are set
constexpr std::size_t kSpacingAt = 30;  // float32 x 3
constexpr std::size_t kCosinesAt = 42;  // float32 x 9: the x, y and z axes' directions
constexpr std::size_t kCentreAt = 78;   // float32 x 3: world point of the centre voxel
constexpr std::size_t kFieldsEnd = 90;
constexpr int kVersion = 1;

// FreeSurfer's voxel types and their NIfTI codes.
struct MghType {
  int mgh;
  int nifti;
};
constexpr MghType kTypes[] = {{0, 2}, {1, 8}, {3, 16}, {4, 4}};  // uint8, int32, float32, int16

uint32_t big_u32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
int32_t big_i32(const unsigned char *p) { return static_cast<int32_t>(big_u32(p)); }
double big_f32(const unsigned char *p) {
  const uint32_t bits = big_u32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void put_u32(std::vector<unsigned char> *out, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
void put_f32(std::vector<unsigned char> *out, std::size_t at, double v) {
  const auto f = static_cast<float>(v);
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  put_u32(out, at, bits);
}

// FreeSurfer's voxel-to-world matrix: the direction cosines times the
// voxel sizes, placed so that voxel (width, height, depth) / 2 lies at the
// centre point. Without the geometry flag FreeSurfer takes 1 mm coronal
// slices centred on the origin.
Mat4 mgh_matrix(const unsigned char *b, const std::array<int64_t, 8> &dim) {
  double spacing[3] = {1, 1, 1};
  double cosines[9] = {-1, 0, 0, 0, 0, -1, 0, 1, 0};
  double centre[3] = {0, 0, 0};
  if (static_cast<int16_t>((b[kGoodRasAt] << 8) | b[kGoodRasAt + 1]) > 0) {
    for (std::size_t i = 0; i < 3; ++i) spacing[i] = big_f32(b + kSpacingAt + 4 * i);
    for (std::size_t i = 0; i < 9; ++i) cosines[i] = big_f32(b + kCosinesAt + 4 * i);
    for (std::size_t i = 0; i < 3; ++i) centre[i] = big_f32(b + kCentreAt + 4 * i);
  }
  Mat4 m = identity4();
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) m[static_cast<std::size_t>(4 * c + r)] = cosines[3 * c + r] * spacing[c];
  for (int r = 0; r < 3; ++r) {
    double corner = centre[r];
    for (int c = 0; c < 3; ++c)
      corner -=
          m[static_cast<std::size_t>(4 * c + r)] * (static_cast<double>(dim[static_cast<std::size_t>(c + 1)]) / 2);
    m[static_cast<std::size_t>(12 + r)] = corner;
  }
  return m;
}

}  // namespace

ForeignHeader parse_mgh_header(const unsigned char *bytes, std::size_t size, const std::string &name) {
  if (size < kFieldsEnd)
    fail(name, "truncated MGH header: " + std::to_string(size) + " of " + std::to_string(kFieldsEnd) + " bytes");
  if (big_i32(bytes) != kVersion)
    fail(name, "not an MGH image: its version field holds " + std::to_string(big_i32(bytes)) + ", not 1");
  std::array<int64_t, 8> dim{4, 1, 1, 1, 1, 1, 1, 1};
  for (std::size_t i = 0; i < 4; ++i) dim[i + 1] = big_i32(bytes + kDimsAt + 4 * i);
  if (dim[4] == 1) dim[0] = 3;
  const int type = big_i32(bytes + kTypeAt);
  int nifti_code = 0;
  for (const MghType &t : kTypes)
    if (t.mgh == type) nifti_code = t.nifti;
  if (nifti_code == 0)
    fail(name, "MGH voxel type " + std::to_string(type) +
                   " is not supported: the voxels must be uchar (0), int (1), float (3) or short (4)");
  ForeignHeader out;
  out.header.format = "MGH";
  out.header.swapped = swapped_on_this_machine(true);
  complete_header(&out.header, dim, nifti_code, kMghHeaderBytes, mgh_matrix(bytes, dim), "MGH direction cosines", name);
  return out;
}

std::vector<unsigned char> mgh_header_bytes(const NiftiLayout &layout, const std::string &path) {
  int type = -1;
  for (const MghType &t : kTypes)
    if (t.nifti == layout.datatype->code) type = t.mgh;
  if (type < 0)
    fail(path, std::string("MGH images hold uint8, int16, int32 or float32 voxels, not ") + layout.datatype->name);
  std::vector<unsigned char> out(kMghHeaderBytes, 0);
  put_u32(&out, 0, kVersion);
  for (std::size_t i = 0; i < 3; ++i) put_u32(&out, kDimsAt + 4 * i, static_cast<uint32_t>(layout.dim[i]));
  put_u32(&out, kDimsAt + 12, static_cast<uint32_t>(series_volumes(layout)));
  put_u32(&out, kTypeAt, static_cast<uint32_t>(type));
  out[kGoodRasAt + 1] = 1;
  const Mat4 m = layout_matrix(layout);
  for (int c = 0; c < 3; ++c) {
    const double length = column_length(m, c, path);
    put_f32(&out, kSpacingAt + 4 * static_cast<std::size_t>(c), length);
    for (int r = 0; r < 3; ++r)
      put_f32(&out, kCosinesAt + 4 * static_cast<std::size_t>(3 * c + r), at(m, r, c) / length);
  }
  const Vec3 centre = apply_point(m, {static_cast<double>(layout.dim[0]) / 2, static_cast<double>(layout.dim[1]) / 2,
                                      static_cast<double>(layout.dim[2]) / 2});
  for (std::size_t r = 0; r < 3; ++r) put_f32(&out, kCentreAt + 4 * r, centre[r]);
  return out;
}

}  // namespace vaeng
