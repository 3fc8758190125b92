#include "nifti_writer.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "cli_error.h"
#include "nifti_image.h"
#include "stored_values.h"
#include "text_numbers.h"
#include "unique_fd.h"

#include <nifti2_io.h>

namespace vacli {

namespace {

template <class Header, class Real>
void fill_common(Header *h, const NiftiLayout &layout) {
  using Dim = std::remove_reference_t<decltype(h->dim[0])>;
  h->dim[0] = 3;
  for (int i = 0; i < 3; ++i) h->dim[i + 1] = static_cast<Dim>(layout.dim[static_cast<std::size_t>(i)]);
  for (int i = 4; i < 8; ++i) h->dim[i] = 1;
  h->datatype = static_cast<int16_t>(layout.datatype->code);
  h->bitpix = static_cast<int16_t>(8 * layout.datatype->bytes);
  const NiftiGeometry &g = layout.geometry;
  h->pixdim[0] = static_cast<Real>(g.qfac < 0 ? -1.0 : 1.0);
  for (int i = 0; i < 3; ++i) h->pixdim[i + 1] = static_cast<Real>(g.pixdim[static_cast<std::size_t>(i)]);
  for (int i = 4; i < 8; ++i) h->pixdim[i] = 1;
  h->scl_slope = static_cast<Real>(layout.scale);
  h->scl_inter = static_cast<Real>(layout.offset);
  h->qform_code = static_cast<decltype(h->qform_code)>(g.qform_code);
  h->sform_code = static_cast<decltype(h->sform_code)>(g.sform_code);
  h->quatern_b = static_cast<Real>(g.quatern[0]);
  h->quatern_c = static_cast<Real>(g.quatern[1]);
  h->quatern_d = static_cast<Real>(g.quatern[2]);
  h->qoffset_x = static_cast<Real>(g.qoffset[0]);
  h->qoffset_y = static_cast<Real>(g.qoffset[1]);
  h->qoffset_z = static_cast<Real>(g.qoffset[2]);
  for (int c = 0; c < 4; ++c) {
    h->srow_x[c] = static_cast<Real>(g.srow[static_cast<std::size_t>(c)]);
    h->srow_y[c] = static_cast<Real>(g.srow[static_cast<std::size_t>(4 + c)]);
    h->srow_z[c] = static_cast<Real>(g.srow[static_cast<std::size_t>(8 + c)]);
  }
  h->xyzt_units = static_cast<decltype(h->xyzt_units)>(g.xyzt_units);
  std::strncpy(h->descrip, layout.description.c_str(), sizeof h->descrip - 1);
}

bool fits_nifti1(const NiftiLayout &layout) {
  for (int64_t d : layout.dim)
    if (d > std::numeric_limits<int16_t>::max()) return false;
  return true;
}

// The header of one version: its size field, the byte position of the
// first voxel and the magic text (with its terminating zero or more).
template <class Header, class Real>
std::vector<unsigned char> version_header_bytes(const NiftiLayout &layout, int32_t size, int64_t vox_offset,
                                                const char *magic, std::size_t magic_bytes) {
  Header h;
  std::memset(&h, 0, sizeof h);
  h.sizeof_hdr = size;
  fill_common<Header, Real>(&h, layout);
  h.vox_offset = static_cast<decltype(h.vox_offset)>(vox_offset);
  std::memcpy(h.magic, magic, magic_bytes);
  const auto *bytes = reinterpret_cast<const unsigned char *>(&h);
  return std::vector<unsigned char>(bytes, bytes + sizeof h);
}

}  // namespace

std::vector<unsigned char> nifti_header_bytes(const NiftiLayout &layout) {
  std::vector<unsigned char> bytes =
      layout.version == 1 && fits_nifti1(layout)
          ? version_header_bytes<nifti_1_header, float>(layout, 348, 352, "n+1\0", 4)
          : version_header_bytes<nifti_2_header, double>(layout, 540, 544, "n+2\0\r\n\032\n", 8);
  bytes.resize(bytes.size() + 4, 0);  // extension flag: none follow
  return bytes;
}

struct NiftiWriter::Gzip {
  gzFile file = nullptr;
};

NiftiWriter::NiftiWriter(const std::string &path, const NiftiLayout &layout) : layout_(layout), file_(path) {
  if (ends_with(path, ".gz")) {
    gzip_ = std::make_unique<Gzip>();
    const int fd = ::dup(file_.fd());
    if (fd < 0 || !(gzip_->file = gzdopen(fd, "wb6"))) {
      if (fd >= 0) ::close(fd);
      fail_system(path, "cannot write", errno);
    }
  }
  const std::vector<unsigned char> header = nifti_header_bytes(layout_);
  put(header.data(), header.size());
}

NiftiWriter::~NiftiWriter() {
  if (gzip_ && gzip_->file) gzclose(gzip_->file);
}

void NiftiWriter::put(const void *bytes, std::size_t n) {
  if (!gzip_) return write_all(file_.fd(), bytes, n, file_.path());
  const auto *p = static_cast<const unsigned char *>(bytes);
  while (n > 0) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30));
    if (gzwrite(gzip_->file, p, chunk) != static_cast<int>(chunk))
      fail(file_.path(), "cannot write: " + gzip_reason(gzip_->file));
    p += chunk;
    n -= chunk;
  }
}

void NiftiWriter::write_plane(const double *values) {
  buffer_.clear();
  const auto count = static_cast<std::size_t>(layout_.dim[0]) * static_cast<std::size_t>(layout_.dim[1]);
  append_stored(values, count, *layout_.datatype, layout_.scale, layout_.offset, &buffer_);
  put(buffer_.data(), buffer_.size());
  ++planes_written_;
}

void NiftiWriter::finish() {
  if (planes_written_ != layout_.dim[2])
    fail(file_.path(), "internal error: " + std::to_string(planes_written_) + " of " + std::to_string(layout_.dim[2]) +
                           " planes written");
  if (gzip_) {
    // The stream's end is written here, where a failure still has its reason.
    if (gzflush(gzip_->file, Z_FINISH) != Z_OK) fail(file_.path(), "cannot write: " + gzip_reason(gzip_->file));
    const int status = gzclose(gzip_->file);
    gzip_->file = nullptr;
    if (status != Z_OK) fail_system(file_.path(), "cannot write", errno);
  }
  file_.commit();
}

}  // namespace vacli
