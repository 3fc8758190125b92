// The header of a NIfTI-1 or NIfTI-2 image, read from its bytes and
// checked before anything trusts it. Pure: no file is touched, so fuzz
// targets and tests can hand it any bytes.
#ifndef VOLACCESS_FORMATS_NIFTI_HEADER_H
#define VOLACCESS_FORMATS_NIFTI_HEADER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "matrix.h"

namespace vaeng {

// The bytes a header can occupy at most (NIfTI-2).
constexpr std::size_t kNiftiMaxHeaderSize = 540;

// One of the ten voxel encodings the volume library samples.
struct NiftiDatatype {
  int code;          // NIfTI datatype code, also the volume struct's "dt" code
  int bytes;         // per voxel
  const char *name;  // "uint8", "int16", "float32", ...
};

// The ten supported encodings, and the one with this code (null if none).
const std::array<NiftiDatatype, 10> &nifti_datatypes();
const NiftiDatatype *find_nifti_datatype(int code);
const NiftiDatatype *find_nifti_datatype(const std::string &name);

// The spatial fields of a header, kept as stored so that an output can
// carry exactly the same geometry.
struct NiftiGeometry {
  int qform_code = 0;
  int sform_code = 0;
  std::array<double, 3> quatern{};  // b, c, d
  std::array<double, 3> qoffset{};  // x, y, z
  double qfac = 1;                  // pixdim[0]
  std::array<double, 3> pixdim{1, 1, 1};
  std::array<double, 12> srow{};  // srow_x, srow_y, srow_z
  int xyzt_units = 0;
};

// What a header says beyond the three spatial axes, kept so that an
// output series can carry it: the higher dimensions (time first), their
// steps, and the intent.
struct NiftiSeries {
  int rank = 3;                              // dim[0]
  std::array<int64_t, 4> dim{1, 1, 1, 1};    // dim[4..7]
  std::array<double, 4> pixdim{0, 0, 0, 0};  // pixdim[4..7], the time step first
  int intent_code = 0;
  std::array<double, 3> intent_p{};
  std::string intent_name;
};

// The intent code of a vector image, such as a displacement field.
constexpr int kNiftiIntentVector = 1007;

struct NiftiHeader {
  // Null for NIfTI; else the other format the header was read from
  // ("MGH", "NRRD", "MetaImage"), whose fields it holds as NIfTI's.
  const char *format = nullptr;
  int version = 1;                      // 1 or 2; 1 for the other formats
  bool swapped = false;                 // stored in the byte order opposite to this machine's
  bool single_file = true;              // voxels follow the header in the same file
  std::array<int64_t, 3> dim{1, 1, 1};  // voxels along x, y, z
  int64_t volumes = 1;                  // product of the dimensions after the third
  const NiftiDatatype *datatype = nullptr;
  uint64_t vox_offset = 0;    // byte position of the first voxel
  uint64_t volume_bytes = 0;  // bytes of one 3-D volume
  double scale = 1;           // real value = scale * stored + offset
  double offset = 0;
  NiftiGeometry geometry;
  NiftiSeries series;
  Mat4 voxel_to_world{};           // from the header's own 0-based voxel indices
  const char *matrix_source = "";  // "sform", "qform" or "voxel sizes"
};

// Reads and checks the header at the start of `bytes`; every problem is a
// Error that begins with `name`.
NiftiHeader parse_nifti_header(const unsigned char *bytes, std::size_t size, const std::string &name);

// The checks of the shape every format's header shares: `dim` as NIfTI's
// (the rank, then the dimensions), the NIfTI datatype code, and the byte
// position of the first voxel, which in a single-file image must not lie
// within the first `header_size` bytes. Fills dim, volumes, datatype,
// vox_offset and volume_bytes; a problem is an Error naming `name`.
void check_image_shape(NiftiHeader *out, const std::array<int64_t, 8> &dim, int datatype, double vox_offset,
                       uint64_t header_size, const std::string &name);

// "NIfTI-1", "NIfTI-2", or the other format's name.
std::string format_label(const NiftiHeader &header);

// The voxel-to-world matrix for the volume library's 1-based voxel
// coordinates: the header's matrix after the shift from 1-based to 0-based.
Mat4 one_based_matrix(const NiftiHeader &header);

}  // namespace vaeng

#endif
