#include "nifti_header.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "errors.h"

// nifti1.h undefines dirent.h's DT_UNKNOWN; include it after the standard
// headers so that nothing here depends on either meaning.
#include <nifti2_io.h>

namespace vaeng {

namespace {

constexpr int32_t kV1Size = 348;
constexpr int32_t kV2Size = 540;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// Whole numbers beyond 2^53 are not all doubles, and byte positions reach
// the volume library as doubles.
constexpr double kExactDoubleLimit = 9007199254740992.0;

int32_t byte_swapped(int32_t v) { return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(v))); }

std::string decimal(int64_t v) { return std::to_string(v); }

// The volume library's list of encodings; a byte-swapped twin shares the
// NIfTI code of its native row, the byte order being the header's.
struct Encoding {
  int nifti_code;
  int bits;
  const char *name;
  bool twin;
};

constexpr Encoding kEncodings[] = {
#define VOLACCESS_ENCODING(t, code, element, reader, bits, host_class, nifti_code, twin, name) \
  {(nifti_code), (bits), (name), (twin) != 0},
#include "voxel_types.def"
#undef VOLACCESS_ENCODING
};

// The fields both versions share, with the same names, after byte swapping.
struct Fields {
  std::array<int64_t, 8> dim{};
  int datatype = 0;
  std::array<double, 8> pixdim{};
  double vox_offset = 0;
  double slope = 0;
  double inter = 0;
  NiftiGeometry geometry;
  NiftiSeries series;
  std::string magic;
};

template <class Header>
Fields fields_of(const Header &h) {
  Fields f;
  for (int i = 0; i < 8; ++i) {
    f.dim[i] = h.dim[i];
    f.pixdim[i] = h.pixdim[i];
  }
  f.datatype = h.datatype;
  f.vox_offset = static_cast<double>(h.vox_offset);
  f.slope = h.scl_slope;
  f.inter = h.scl_inter;
  NiftiGeometry &g = f.geometry;
  g.qform_code = h.qform_code;
  g.sform_code = h.sform_code;
  g.quatern = {h.quatern_b, h.quatern_c, h.quatern_d};
  g.qoffset = {h.qoffset_x, h.qoffset_y, h.qoffset_z};
  g.qfac = h.pixdim[0];
  g.pixdim = {h.pixdim[1], h.pixdim[2], h.pixdim[3]};
  for (int c = 0; c < 4; ++c) {
    g.srow[c] = h.srow_x[c];
    g.srow[4 + c] = h.srow_y[c];
    g.srow[8 + c] = h.srow_z[c];
  }
  g.xyzt_units = h.xyzt_units;
  NiftiSeries &t = f.series;
  t.rank = static_cast<int>(h.dim[0]);
  for (std::size_t i = 0; i < 4; ++i) {
    t.dim[i] = h.dim[0] >= static_cast<int>(i) + 4 ? static_cast<int64_t>(h.dim[i + 4]) : 1;
    t.pixdim[i] = h.pixdim[i + 4];
  }
  t.intent_code = h.intent_code;
  t.intent_p = {h.intent_p1, h.intent_p2, h.intent_p3};
  t.intent_name.assign(h.intent_name, strnlen(h.intent_name, sizeof h.intent_name));
  f.magic.assign(h.magic, 4);
  return f;
}

void check_magic(NiftiHeader *out, const Fields &f, const std::string &name) {
  const char digit = static_cast<char>('0' + out->version);
  if (f.magic[3] == '\0' && f.magic[0] == 'n' && f.magic[2] == digit) {
    if (f.magic[1] == '+') return;
    if (f.magic[1] == 'i') {
      out->single_file = false;
      return;
    }
  }
  fail(name, std::string("bad magic: not a NIfTI-") + digit + " image");
}

void check_dimensions(NiftiHeader *out, const std::array<int64_t, 8> &dim, const std::string &name) {
  const int64_t rank = dim[0];
  if (rank < 1 || rank > 7) fail(name, "bad dim[0] = " + decimal(rank) + ": the number of dimensions must be 1 to 7");
  for (int64_t i = 1; i <= rank; ++i) {
    const int64_t d = dim[static_cast<std::size_t>(i)];
    if (d == 0) fail(name, "dimension " + decimal(i) + " is 0");
    if (d < 0) fail(name, "dimension " + decimal(i) + " is negative (" + decimal(d) + ")");
  }
  for (std::size_t i = 0; i < 3; ++i) out->dim[i] = static_cast<int64_t>(i) < rank ? dim[i + 1] : 1;
  out->volumes = 1;
  for (int64_t i = 4; i <= rank; ++i)
    if (__builtin_mul_overflow(out->volumes, dim[static_cast<std::size_t>(i)], &out->volumes))
      fail(name, "oversized dimensions: the number of volumes overflows");
  int64_t plane = 0;
  for (int64_t d : out->dim)
    if (d > kInt32Max) fail(name, "oversized dimension " + decimal(d) + ": at most 2147483647 voxels per axis");
  if (__builtin_mul_overflow(out->dim[0], out->dim[1], &plane) || plane > kInt32Max)
    fail(name, "oversized dimensions " + decimal(out->dim[0]) + "x" + decimal(out->dim[1]) +
                   ": a plane holds at most 2147483647 voxels");
}

void check_datatype(NiftiHeader *out, int datatype, const std::string &name) {
  out->datatype = find_nifti_datatype(datatype);
  if (out->datatype) return;
  const char *known = nifti_datatype_string(datatype);
  std::string what = "datatype " + decimal(datatype);
  if (known && std::strcmp(known, "**ILLEGAL**") != 0 && datatype != 0) what += std::string(" (") + known + ")";
  fail(name, what +
                 " is not supported: the voxels must be one of uint8, int8, int16, uint16, int32, uint32, "
                 "int64, uint64, float32, float64");
}

void check_sizes(NiftiHeader *out, double position, uint64_t header_size, const std::string &name) {
  uint64_t bytes = static_cast<uint64_t>(out->datatype->bytes);
  for (int64_t d : out->dim)
    if (__builtin_mul_overflow(bytes, static_cast<uint64_t>(d), &bytes))
      fail(name, "oversized dimensions: the volume's size in bytes overflows");
  out->volume_bytes = bytes;
  uint64_t all = 0;
  if (__builtin_mul_overflow(bytes, static_cast<uint64_t>(out->volumes), &all))
    fail(name, "oversized dimensions: the image's size in bytes overflows");

  if (!std::isfinite(position) || position < 0 || std::floor(position) != position || position >= kExactDoubleLimit)
    fail(name, "bad vox_offset (" + std::to_string(position) + "): not a byte position");
  out->vox_offset = static_cast<uint64_t>(position);
  if (out->single_file && out->vox_offset < header_size)
    fail(name,
         "bad vox_offset " + decimal(static_cast<int64_t>(out->vox_offset)) + ": the voxels would overlap the header");
  uint64_t end = 0;
  if (__builtin_add_overflow(out->vox_offset, all, &end) || static_cast<double>(end) >= kExactDoubleLimit)
    fail(name, "oversized image: its byte positions exceed 2^53");
}

// A slope of 0 or one that is not finite means the voxels are unscaled.
void read_scaling(NiftiHeader *out, const Fields &f, const std::string &name) {
  if (f.slope == 0 || !std::isfinite(f.slope)) return;
  if (!std::isfinite(f.inter)) fail(name, "scl_inter is not finite although scl_slope is set");
  out->scale = f.slope;
  out->offset = f.inter;
}

Mat4 from_dmat44(const nifti_dmat44 &m) {
  Mat4 out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[4 * c + r] = m.m[r][c];
  return out;
}

// b^2 + c^2 + d^2 of a rotation's quaternion is at most 1; stored as
// float32 it may exceed 1 by rounding, by no more than peers tolerate.
constexpr double kQuaternionTolerance = 3 * static_cast<double>(std::numeric_limits<float>::epsilon());

std::string field_value(double v) { return std::isnan(v) ? "nan" : std::to_string(v); }

void check_finite(double v, const std::string &field, const std::string &name) {
  if (!std::isfinite(v)) fail(name, field + " is not finite (" + field_value(v) + ")");
}

// The qform as strictly as the sform: nifticlib would replace a voxel size
// that is not finite by 1, a quaternion part or offset by 0, and scale a
// quaternion longer than 1 into a different rotation, all without a word.
// Only the fields of the matrix actually used are checked, so headers whose
// unused form is odd still read.
void check_qform(const NiftiGeometry &g, const std::string &name) {
  if (g.sform_code > 0) return;
  const char *const pixdim_names[] = {"pixdim[1]", "pixdim[2]", "pixdim[3]"};
  for (std::size_t i = 0; i < 3; ++i) check_finite(g.pixdim[i], pixdim_names[i], name);
  if (g.qform_code <= 0) return;
  const char *const quatern_names[] = {"quatern_b", "quatern_c", "quatern_d"};
  const char *const offset_names[] = {"qoffset_x", "qoffset_y", "qoffset_z"};
  for (std::size_t i = 0; i < 3; ++i) {
    check_finite(g.quatern[i], quatern_names[i], name);
    check_finite(g.qoffset[i], offset_names[i], name);
  }
  const double norm = g.quatern[0] * g.quatern[0] + g.quatern[1] * g.quatern[1] + g.quatern[2] * g.quatern[2];
  if (norm > 1 + kQuaternionTolerance)
    fail(name, "the qform quaternion (quatern_b, quatern_c, quatern_d) has b^2 + c^2 + d^2 = " + std::to_string(norm) +
                   ", more than 1: it is no rotation");
}

struct ImageFree {
  void operator()(nifti_image *nim) const { nifti_image_free(nim); }
};

// The sform when its code is positive, else the qform when its code is
// positive, else a scaling by the voxel sizes, all as nifticlib derives
// them from the raw header.
template <class Header>
void read_matrix(NiftiHeader *out, const Header &raw, const std::string &name) {
  nifti_set_debug_level(0);
  std::unique_ptr<nifti_image, ImageFree> nim;
  if constexpr (sizeof(Header) == kV1Size)
    nim.reset(nifti_convert_n1hdr2nim(raw, nullptr));
  else
    nim.reset(nifti_convert_n2hdr2nim(raw, nullptr));
  if (!nim) fail(name, "header rejected by the NIfTI reader");
  if (out->geometry.sform_code > 0) {
    out->voxel_to_world = from_dmat44(nim->sto_xyz);
    out->matrix_source = "sform";
  } else {
    out->voxel_to_world = from_dmat44(nim->qto_xyz);
    out->matrix_source = out->geometry.qform_code > 0 ? "qform" : "voxel sizes";
  }
  if (!all_finite(out->voxel_to_world))
    fail(name, std::string("the voxel-to-world matrix (") + out->matrix_source + ") has entries that are not finite");
}

template <class Header>
NiftiHeader parse_version(const unsigned char *bytes, bool swapped, int version, const std::string &name) {
  Header raw;
  std::memcpy(&raw, bytes, sizeof raw);
  Header native = raw;
  if (swapped) {
    if constexpr (sizeof(Header) == kV1Size)
      nifti_swap_as_nifti1(&native);
    else
      nifti_swap_as_nifti2(&native);
  }
  const Fields f = fields_of(native);
  NiftiHeader out;
  out.version = version;
  out.swapped = swapped;
  out.geometry = f.geometry;
  out.series = f.series;
  check_magic(&out, f, name);
  check_image_shape(&out, f.dim, f.datatype, f.vox_offset, version == 1 ? kV1Size : kV2Size, name);
  read_scaling(&out, f, name);
  check_qform(out.geometry, name);
  read_matrix(&out, raw, name);
  return out;
}

}  // namespace

void check_image_shape(NiftiHeader *out, const std::array<int64_t, 8> &dim, int datatype, double vox_offset,
                       uint64_t header_size, const std::string &name) {
  check_dimensions(out, dim, name);
  check_datatype(out, datatype, name);
  check_sizes(out, vox_offset, header_size, name);
}

std::string format_label(const NiftiHeader &header) {
  return header.format ? header.format : "NIfTI-" + std::to_string(header.version);
}

const std::array<NiftiDatatype, 10> &nifti_datatypes() {
  static const std::array<NiftiDatatype, 10> types = [] {
    std::array<NiftiDatatype, 10> native{};
    std::size_t n = 0;
    for (const Encoding &e : kEncodings)
      if (!e.twin) native.at(n++) = {e.nifti_code, e.bits / 8, e.name};
    return native;
  }();
  return types;
}

const NiftiDatatype *find_nifti_datatype(int code) {
  for (const NiftiDatatype &t : nifti_datatypes())
    if (t.code == code) return &t;
  return nullptr;
}

const NiftiDatatype *find_nifti_datatype(const std::string &name) {
  for (const NiftiDatatype &t : nifti_datatypes())
    if (name == t.name) return &t;
  return nullptr;
}

NiftiHeader parse_nifti_header(const unsigned char *bytes, std::size_t size, const std::string &name) {
  if (size < 4) fail(name, "too short for a NIfTI header (" + std::to_string(size) + " bytes)");
  int32_t size_field;
  std::memcpy(&size_field, bytes, sizeof size_field);
  int version = 0;
  bool swapped = false;
  if (size_field == kV1Size || byte_swapped(size_field) == kV1Size) {
    version = 1;
    swapped = size_field != kV1Size;
  } else if (size_field == kV2Size || byte_swapped(size_field) == kV2Size) {
    version = 2;
    swapped = size_field != kV2Size;
  } else {
    fail(name, "not a NIfTI image: its header size field holds " + std::to_string(size_field) + ", not 348 or 540");
  }
  const std::size_t need = version == 1 ? kV1Size : kV2Size;
  if (size < need)
    fail(name, "truncated NIfTI-" + std::to_string(version) + " header: " + std::to_string(size) + " of " +
                   std::to_string(need) + " bytes");
  if (version == 1) return parse_version<nifti_1_header>(bytes, swapped, 1, name);
  return parse_version<nifti_2_header>(bytes, swapped, 2, name);
}

Mat4 one_based_matrix(const NiftiHeader &header) { return multiply(header.voxel_to_world, translation4(-1, -1, -1)); }

}  // namespace vaeng
