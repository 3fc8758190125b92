#include "nifti_writer.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "errors.h"
#include "foreign_image.h"
#include "header_text.h"
#include "nifti_image.h"
#include "stored_values.h"
#include "text_numbers.h"
#include "unique_fd.h"

#include <nifti2_io.h>

namespace vaeng {

namespace {

template <class Header, class Real>
void fill_common(Header *h, const NiftiLayout &layout) {
  using Dim = std::remove_reference_t<decltype(h->dim[0])>;
  const NiftiSeries &t = layout.series;
  h->dim[0] = static_cast<Dim>(t.rank);
  for (int i = 0; i < 3; ++i) h->dim[i + 1] = static_cast<Dim>(layout.dim[static_cast<std::size_t>(i)]);
  for (int i = 4; i < 8; ++i) h->dim[i] = static_cast<Dim>(t.dim[static_cast<std::size_t>(i - 4)]);
  h->datatype = static_cast<int16_t>(layout.datatype->code);
  h->bitpix = static_cast<int16_t>(8 * layout.datatype->bytes);
  const NiftiGeometry &g = layout.geometry;
  h->pixdim[0] = static_cast<Real>(g.qfac < 0 ? -1.0 : 1.0);
  for (int i = 0; i < 3; ++i) h->pixdim[i + 1] = static_cast<Real>(g.pixdim[static_cast<std::size_t>(i)]);
  for (int i = 4; i < 8; ++i) h->pixdim[i] = static_cast<Real>(t.pixdim[static_cast<std::size_t>(i - 4)]);
  h->intent_code = static_cast<int16_t>(t.intent_code);
  h->intent_p1 = static_cast<Real>(t.intent_p[0]);
  h->intent_p2 = static_cast<Real>(t.intent_p[1]);
  h->intent_p3 = static_cast<Real>(t.intent_p[2]);
  std::strncpy(h->intent_name, t.intent_name.c_str(), sizeof h->intent_name - 1);
  h->cal_min = static_cast<Real>(layout.cal_min);
  h->cal_max = static_cast<Real>(layout.cal_max);
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

// Reverses the bytes of each `width`-byte element.
void swap_elements(unsigned char *bytes, std::size_t n, std::size_t width) {
  for (std::size_t at = 0; at + width <= n; at += width)
    for (std::size_t i = 0; i < width / 2; ++i) std::swap(bytes[at + i], bytes[at + width - 1 - i]);
}

bool fits_nifti1(const NiftiLayout &layout) {
  for (int64_t d : layout.dim)
    if (d > std::numeric_limits<int16_t>::max()) return false;
  for (int64_t d : layout.series.dim)
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

int64_t series_volumes(const NiftiLayout &layout) {
  int64_t n = 1;
  for (int64_t d : layout.series.dim) n *= d;
  return n;
}

uint64_t nifti_file_bytes(const NiftiLayout &layout) {
  const auto plane = static_cast<uint64_t>(layout.dim[0]) * static_cast<uint64_t>(layout.dim[1]);
  const uint64_t planes = static_cast<uint64_t>(layout.dim[2]) * static_cast<uint64_t>(series_volumes(layout));
  return nifti_header_bytes(layout).size() + plane * planes * static_cast<uint64_t>(layout.datatype->bytes);
}

NiftiWriter::NiftiWriter(const std::string &path, const NiftiLayout &layout)
    : layout_(layout), path_(path), format_(output_format(path)),
      name_(format_.data_file.empty() ? path : data_path(path, format_.data_file)),
      file_(std::make_unique<OutputFile>(name_)), compress_(format_.compressed) {
  if (compress_) staging_ = make_anonymous_file(path + " (uncompressed)");
  raw_fd_ = compress_ ? staging_.get() : file_->fd();
  if (!format_.data_file.empty()) {
    header_file_ = std::make_unique<OutputFile>(path);
    return;
  }
  const std::vector<unsigned char> header = header_bytes();
  put(header, 0);
  position_ = header.size();
}

NiftiWriter::NiftiWriter(unsigned char *memory, const NiftiLayout &layout, std::string name)
    : layout_(layout), path_(name), name_(std::move(name)), memory_(memory) {
  const std::vector<unsigned char> header = nifti_header_bytes(layout_);
  put(header, 0);
  position_ = header.size();
}

NiftiWriter::~NiftiWriter() = default;

void NiftiWriter::put(const std::vector<unsigned char> &bytes, uint64_t at) {
  if (memory_) {
    std::memcpy(memory_ + at, bytes.data(), bytes.size());
    return;
  }
  if (at == position_) {
    write_all(raw_fd_, bytes.data(), bytes.size(), name_);
    return;
  }
  if (::pwrite(raw_fd_, bytes.data(), bytes.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(bytes.size()))
    fail_system(name_, "cannot write", errno);
}

std::vector<unsigned char> NiftiWriter::header_bytes() const {
  if (format_.format == ImageFormat::Nifti) return nifti_header_bytes(layout_);
  return foreign_header_bytes(format_, layout_, path_);
}

void NiftiWriter::write_plane(const double *values) {
  buffer_.clear();
  const auto count = static_cast<std::size_t>(layout_.dim[0]) * static_cast<std::size_t>(layout_.dim[1]);
  append_stored(values, count, *layout_.datatype, layout_.scale, layout_.offset, &buffer_);
  add_stored_range(buffer_.data(), count, *layout_.datatype, layout_.scale, layout_.offset, &range_);
  if (format_.format == ImageFormat::Mgh && swapped_on_this_machine(true))
    swap_elements(buffer_.data(), buffer_.size(), static_cast<std::size_t>(layout_.datatype->bytes));
  put(buffer_, position_);
  position_ += buffer_.size();
  ++planes_written_;
}

void NiftiWriter::compress_into_output() {
  const int fd = ::dup(file_->fd());
  gzFile gz = fd < 0 ? nullptr : gzdopen(fd, "wb6");
  if (!gz) {
    if (fd >= 0) ::close(fd);
    fail_system(name_, "cannot write", errno);
  }
  // A failed write keeps its reason (the system's, e.g. a full disk) for
  // the message; the stream is closed on every path.
  std::string failure;
  std::vector<unsigned char> block(1 << 20);
  for (uint64_t at = 0; failure.empty() && at < position_;) {
    const std::size_t got = read_at(raw_fd_, block.data(), block.size(), at, name_ + " (uncompressed)");
    if (got == 0) break;
    if (gzwrite(gz, block.data(), static_cast<unsigned>(got)) != static_cast<int>(got)) failure = gzip_reason(gz);
    at += got;
  }
  // The stream's end is written here, where a failure still has its reason.
  if (failure.empty() && gzflush(gz, Z_FINISH) != Z_OK) failure = gzip_reason(gz);
  const int status = gzclose(gz);
  if (!failure.empty()) fail(name_, "cannot write: " + failure);
  if (status != Z_OK) fail_system(name_, "cannot write", errno);
}

void NiftiWriter::finish() {
  const int64_t expected = layout_.dim[2] * series_volumes(layout_);
  if (planes_written_ != expected)
    fail(name_,
         "internal error: " + std::to_string(planes_written_) + " of " + std::to_string(expected) + " planes written");
  if (!range_.empty) {
    layout_.cal_min = range_.low;
    layout_.cal_max = range_.high;
  }
  const std::vector<unsigned char> header = header_bytes();
  if (header_file_)
    write_all(header_file_->fd(), header.data(), header.size(), path_);
  else
    put(header, 0);
  const std::vector<unsigned char> trailer = trailer_bytes(format_.format);
  put(trailer, position_);
  position_ += trailer.size();
  if (compress_) compress_into_output();
  if (file_) file_->commit();
  if (header_file_) header_file_->commit();
}

}  // namespace vaeng
