// The image formats besides NIfTI that users already hold: FreeSurfer's
// MGH (.mgh, and .mgz, the same gzip-compressed), NRRD (.nrrd, or a .nhdr
// header with a separate data file) and MetaImage (.mha, or a .mhd header
// with a separate data file). Each header is read into the NiftiHeader the
// NIfTI path produces, so everything past the reader is shared; each is
// written from a NiftiLayout.
//
// No Debian library reads these headers short of ITK itself, which would
// add hundreds of megabytes for three text or fixed-layout headers, so the
// parsers are written here, over bytes in memory, and never read past them.
// The parsers are pure: fuzz targets and tests can hand them any bytes.
#ifndef VOLACCESS_FORMATS_IMAGE_FORMATS_H
#define VOLACCESS_FORMATS_IMAGE_FORMATS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix.h"
#include "nifti_header.h"

namespace vaeng {

struct NiftiLayout;

enum class ImageFormat { Nifti, Mgh, Nrrd, MetaImage };

// The format of a file from its first bytes (decompressed when the file
// is gzip data), else from its name; NIfTI when neither tells.
ImageFormat image_format(const unsigned char *lead, std::size_t size, const std::string &path);

// A header of another format, read, and where its voxels lie.
struct ForeignHeader {
  // vox_offset is the byte position of the first voxel in the data file,
  // or, for compressed voxels, in the decompressed stream.
  NiftiHeader header;
  // The data file as the header names it (relative to the header's
  // folder); empty when the voxels follow the header in its own file.
  std::string data_file;
  // Where the voxels, or their compressed stream, begin in the data file.
  uint64_t data_start = 0;
  // The voxels are a gzip or zlib stream (MGZ: the whole file).
  bool compressed = false;
};

// Each parser reads the header at the start of `bytes`, which hold the
// file's first bytes (an MGZ file's decompressed), and fails with an Error
// that begins with `name`.
ForeignHeader parse_mgh_header(const unsigned char *bytes, std::size_t size, const std::string &name);
ForeignHeader parse_nrrd_header(const unsigned char *bytes, std::size_t size, const std::string &name);
ForeignHeader parse_metaimage_header(const unsigned char *bytes, std::size_t size, const std::string &name);

// The bytes a reader needs to hold an MGH header's fields.
constexpr std::size_t kMghHeaderBytes = 284;

// The format of an output file, whether the whole file is gzip-compressed
// (.nii.gz, .mgz), and for a header whose voxels go into a file of their
// own (.nhdr, .mhd) that file's name, beside the header.
struct OutputFormat {
  ImageFormat format = ImageFormat::Nifti;
  bool compressed = false;
  std::string data_file;
};

// The format `path` names as an output: .nii, .nii.gz, .mgh, .mgz, .nrrd,
// .nhdr, .mha, .mhd (any case); any other name is NIfTI, compressed when
// it ends in .gz. A .nhdr or .mhd header's voxels go into NAME.raw.
OutputFormat output_format(const std::string &path);
// Whether a name is one of those endings, and the ArgumentError for one
// that is not, naming it.
bool is_image_output_name(const std::string &path);
[[noreturn]] void fail_image_output_name(const std::string &path);

// The header of an output of another format; its voxels, x fastest, follow
// it (big-endian for MGH), then trailer_bytes(). Formats without a scale
// and offset, or without the layout's datatype, fail naming `path`.
std::vector<unsigned char> foreign_header_bytes(const OutputFormat &format, const NiftiLayout &layout,
                                                const std::string &path);
std::vector<unsigned char> trailer_bytes(ImageFormat format);
// The headers of each format, which foreign_header_bytes() chooses among.
std::vector<unsigned char> mgh_header_bytes(const NiftiLayout &layout, const std::string &path);
std::vector<unsigned char> nrrd_header_bytes(const NiftiLayout &layout, const std::string &data_file);
std::vector<unsigned char> metaimage_header_bytes(const NiftiLayout &layout, const std::string &data_file,
                                                  const std::string &path);

// The checked header's geometry as NIfTI keeps it, from the matrix from
// 0-based voxel indices to RAS world points: sform and qform both.
NiftiGeometry geometry_from_matrix(const Mat4 &voxel_to_world);

// The voxel-to-world matrix (0-based, RAS) a layout's geometry gives, in
// double precision.
Mat4 layout_matrix(const NiftiLayout &layout);

}  // namespace vaeng

#endif
