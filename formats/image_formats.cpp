#include "image_formats.h"

#include <cstring>

#include "errors.h"
#include "header_text.h"
#include "nifti_writer.h"
#include "text_numbers.h"

#include <nifti2_io.h>

namespace vaeng {

namespace {

bool begins_with(const unsigned char *lead, std::size_t size, const char *text) {
  const std::size_t n = std::strlen(text);
  return size >= n && std::memcmp(lead, text, n) == 0;
}

bool named(const std::string &path, std::initializer_list<const char *> tails) {
  std::string lower = path;
  for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char *tail : tails)
    if (ends_with(lower, tail)) return true;
  return false;
}

// A MetaImage header begins with one of its keys and "=".
bool metaimage_lead(const unsigned char *lead, std::size_t size) {
  static const char *const kKeys[] = {"ObjectType", "NDims", "Comment", "ObjectSubType"};
  for (const char *key : kKeys) {
    if (!begins_with(lead, size, key)) continue;
    std::size_t at = std::strlen(key);
    while (at < size && lead[at] == ' ') ++at;
    if (at < size && lead[at] == '=') return true;
  }
  return false;
}

}  // namespace

ImageFormat image_format(const unsigned char *lead, std::size_t size, const std::string &path) {
  if (begins_with(lead, size, "NRRD000")) return ImageFormat::Nrrd;
  if (metaimage_lead(lead, size)) return ImageFormat::MetaImage;
  // NIfTI's first four bytes hold 348 or 540 in either order; MGH's its
  // version, 1, big-endian.
  if (size >= 4 && lead[0] == 0 && lead[1] == 0 && lead[2] == 0 && lead[3] == 1) return ImageFormat::Mgh;
  if (size >= 4) {
    int32_t first;
    std::memcpy(&first, lead, sizeof first);
    for (int32_t known : {348, 540})
      if (first == known || static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(first))) == known)
        return ImageFormat::Nifti;
  }
  if (named(path, {".mgh", ".mgz", ".mgh.gz"})) return ImageFormat::Mgh;
  if (named(path, {".nrrd", ".nhdr"})) return ImageFormat::Nrrd;
  if (named(path, {".mha", ".mhd"})) return ImageFormat::MetaImage;
  return ImageFormat::Nifti;
}

OutputFormat output_format(const std::string &path) {
  if (named(path, {".mgh"})) return {ImageFormat::Mgh, false, ""};
  if (named(path, {".mgz"})) return {ImageFormat::Mgh, true, ""};
  if (named(path, {".nrrd"})) return {ImageFormat::Nrrd, false, ""};
  if (named(path, {".mha"})) return {ImageFormat::MetaImage, false, ""};
  const std::size_t slash = path.rfind('/');
  const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string raw = base.substr(0, base.rfind('.')) + ".raw";
  if (named(path, {".nhdr"})) return {ImageFormat::Nrrd, false, raw};
  if (named(path, {".mhd"})) return {ImageFormat::MetaImage, false, raw};
  return {ImageFormat::Nifti, named(path, {".gz"}), ""};
}

bool is_image_output_name(const std::string &path) {
  return named(path, {".nii", ".nii.gz", ".mgh", ".mgz", ".nrrd", ".nhdr", ".mha", ".mhd"});
}

void fail_image_output_name(const std::string &path) {
  throw ArgumentError(path + ": the output must end in .nii, .nii.gz, .mgh, .mgz, .nrrd, .nhdr, .mha or .mhd");
}

std::vector<unsigned char> foreign_header_bytes(const OutputFormat &format, const NiftiLayout &layout,
                                                const std::string &path) {
  if (layout.scale != 1 || layout.offset != 0)
    fail(path, "this format holds no scale and offset, and the " + std::string(layout.datatype->name) +
                   " output needs scale " + shortest_text(layout.scale) + " and offset " +
                   shortest_text(layout.offset) + ": ask for a float32 output, or write .nii");
  if (format.format == ImageFormat::Mgh) return mgh_header_bytes(layout, path);
  if (format.format == ImageFormat::Nrrd) return nrrd_header_bytes(layout, format.data_file);
  return metaimage_header_bytes(layout, format.data_file, path);
}

std::vector<unsigned char> trailer_bytes(ImageFormat format) {
  // MGH's scan parameters (TR, flip angle, TE, TI), none known here.
  if (format == ImageFormat::Mgh) return std::vector<unsigned char>(16, 0);
  return {};
}

NiftiGeometry geometry_from_matrix(const Mat4 &voxel_to_world) {
  NiftiGeometry g;
  g.sform_code = NIFTI_XFORM_SCANNER_ANAT;
  g.qform_code = NIFTI_XFORM_SCANNER_ANAT;
  g.xyzt_units = NIFTI_UNITS_MM;
  nifti_dmat44 m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      m.m[r][c] = at(voxel_to_world, r, c);
      if (r < 3) g.srow[static_cast<std::size_t>(4 * r + c)] = at(voxel_to_world, r, c);
    }
  double dx = 0, dy = 0, dz = 0;
  nifti_dmat44_to_quatern(m, &g.quatern[0], &g.quatern[1], &g.quatern[2], &g.qoffset[0], &g.qoffset[1], &g.qoffset[2],
                          &dx, &dy, &dz, &g.qfac);
  g.pixdim = {dx, dy, dz};
  return g;
}

Mat4 layout_matrix(const NiftiLayout &layout) {
  NiftiLayout doubles = layout;
  doubles.version = 2;
  const std::vector<unsigned char> bytes = nifti_header_bytes(doubles);
  return parse_nifti_header(bytes.data(), bytes.size(), "the output's geometry").voxel_to_world;
}

}  // namespace vaeng
