#include "nifti_image.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "errors.h"
#include "foreign_image.h"
#include "memory_budget.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

bool is_gzip(int fd, const std::string &what) {
  unsigned char magic[2] = {0, 0};
  return read_at(fd, magic, 2, 0, what) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

struct GzClose {
  void operator()(gzFile_s *gz) const { gzclose(gz); }
};
using GzStream = std::unique_ptr<gzFile_s, GzClose>;

// The gzip stream of `fd` from its start, read through a descriptor of
// its own.
GzStream open_gzip(int fd, const std::string &what) {
  UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) fail_system(what, "cannot read", errno);
  if (::lseek(copy.get(), 0, SEEK_SET) != 0) fail_system(what, "cannot read", errno);
  GzStream gz(gzdopen(copy.get(), "rb"));
  if (!gz) fail(what, "cannot read the gzip stream");
  copy.release();
  return gz;
}

// Reads up to n bytes; fewer only where the stream ends, cleanly.
std::size_t read_gzip(gzFile gz, unsigned char *buffer, std::size_t n, const std::string &what) {
  std::size_t done = 0;
  while (done < n) {
    const unsigned want = static_cast<unsigned>(std::min<std::size_t>(n - done, 1u << 30));
    const int got = gzread(gz, buffer + done, want);
    if (got < 0) fail(what, "corrupt gzip data: " + gzip_reason(gz));
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  int code = Z_OK;
  gzerror(gz, &code);
  if (code != Z_OK) fail(what, "corrupt gzip data: " + gzip_reason(gz));
  return done;
}

// The first n bytes of a file (fewer if it is shorter), decompressed when
// it is gzip data.
std::vector<unsigned char> leading_bytes(int fd, bool gzip, std::size_t n, const std::string &what) {
  std::vector<unsigned char> bytes(n);
  bytes.resize(gzip ? read_gzip(open_gzip(fd, what).get(), bytes.data(), n, what)
                    : read_at(fd, bytes.data(), n, 0, what));
  return bytes;
}

// Decompresses the first `limit` bytes of the gzip stream of `fd` into an
// unnamed file; a bomb that holds gigabytes more is not read past them.
FileContent decompress(int fd, const std::string &what, uint64_t limit) {
  check_memory_share(limit, what, "decompressed, the image");
  const GzStream gz = open_gzip(fd, what);
  FileContent out;
  out.fd = make_anonymous_file(what);
  out.compressed = true;
  std::vector<unsigned char> block(1 << 20);
  while (out.size < limit) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(block.size(), limit - out.size));
    const std::size_t got = read_gzip(gz.get(), block.data(), want, what);
    write_all(out.fd.get(), block.data(), got, what + " (decompressed)");
    out.size += got;
    if (got < want) break;
  }
  // One byte more takes zlib to the stream's check value when the image
  // is all the stream holds; a longer stream is read no further.
  unsigned char next;
  if (out.size == limit) read_gzip(gz.get(), &next, 1, what);
  out.sealed = seal_against_shrinking(out.fd.get());
  return out;
}

// The header file of an image, open, and its checked header; for another
// format than NIfTI, also where its voxels are.
struct HeaderFile {
  UniqueFd fd;
  bool gzip = false;
  NiftiHeader header;
  std::optional<ForeignHeader> foreign;
};

HeaderFile read_header_file(UniqueFd fd, const std::string &what) {
  HeaderFile file;
  file.gzip = is_gzip(fd.get(), what);
  std::vector<unsigned char> bytes = leading_bytes(fd.get(), file.gzip, kNiftiMaxHeaderSize, what);
  const ImageFormat format = image_format(bytes.data(), bytes.size(), what);
  if (format == ImageFormat::Nifti) {
    file.header = parse_nifti_header(bytes.data(), bytes.size(), what);
  } else {
    if (format != ImageFormat::Mgh) bytes = leading_bytes(fd.get(), file.gzip, kTextHeaderLimit, what);
    file.foreign = parse_foreign_header(format, bytes.data(), bytes.size(), file.gzip, what);
    file.header = file.foreign->header;
  }
  file.fd = std::move(fd);
  return file;
}

// Where volume `volume` (0: the last) ends in the voxel file; the header
// check bounded it.
uint64_t end_of_volume(const NiftiHeader &header, int64_t volume) {
  const int64_t count = volume > 0 ? std::min(volume, header.volumes) : header.volumes;
  return header.vox_offset + header.volume_bytes * static_cast<uint64_t>(count);
}

// The voxel file's content: gzip data decompressed up to `limit`, or left
// compressed when there is no limit.
FileContent voxel_content(UniqueFd fd, bool gzip, const std::string &what, std::optional<uint64_t> limit) {
  FileContent out;
  if (gzip && limit) return decompress(fd.get(), what, *limit);
  out.compressed = gzip;
  if (!gzip) out.size = file_size(fd.get(), what);
  if (!gzip) out.fd = std::move(fd);
  return out;
}

// Replaces a final `from` (before an optional ".gz") by `to`, keeping case.
bool swap_extension(const std::string &path, const char *from, const char *to, std::string *out) {
  const bool gz = ends_with(path, ".gz") || ends_with(path, ".GZ");
  const std::string stem = gz ? path.substr(0, path.size() - 3) : path;
  const std::string lower_from = from;
  std::string upper_from = lower_from;
  std::string upper_to = to;
  for (char &c : upper_from) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char &c : upper_to) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string tail = gz ? path.substr(path.size() - 3) : "";
  if (ends_with(stem, lower_from)) {
    *out = stem.substr(0, stem.size() - lower_from.size()) + to + tail;
    return true;
  }
  if (ends_with(stem, upper_from)) {
    *out = stem.substr(0, stem.size() - upper_from.size()) + upper_to + tail;
    return true;
  }
  return false;
}

// The voxels of an image of another format: in its own file or the one
// its header names, raw or a compressed stream.
FileContent foreign_content(HeaderFile head, const std::string &data_name, std::optional<uint64_t> limit) {
  const ForeignHeader &foreign = *head.foreign;
  UniqueFd fd = foreign.data_file.empty() ? std::move(head.fd) : open_regular_file(data_name);
  if (foreign.compressed && limit) return inflate_stream(fd.get(), foreign.data_start, *limit, data_name);
  return voxel_content(std::move(fd), foreign.compressed, data_name, std::nullopt);
}

}  // namespace

std::string gzip_reason(gzFile gz) {
  int code = Z_OK;
  const char *message = gzerror(gz, &code);
  if (code == Z_ERRNO) return system_reason(errno);
  std::string text = message;
  // zlib prefixes its messages with "<fd:N>: "; the user knows the file by name.
  if (text.rfind("<fd:", 0) == 0) {
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos) text.erase(0, colon + 2);
  }
  return text.empty() ? "unknown error" : text;
}

ImageFileNames image_file_names(const std::string &path) {
  ImageFileNames names{path, path};
  std::string other;
  if (swap_extension(path, ".hdr", ".img", &other)) names.data = other;
  if (swap_extension(path, ".img", ".hdr", &other)) names.header = other;
  return names;
}

NiftiImage::NiftiImage(std::string name, std::string data_name, NiftiHeader header, FileContent data)
    : name_(std::move(name)), data_name_(std::move(data_name)), header_(header), data_(std::move(data)) {}

NiftiImage NiftiImage::open_image(const std::string &path, std::optional<int64_t> volume) {
  const ImageFileNames names = image_file_names(path);
  HeaderFile head = read_header_file(open_regular_file(names.header), names.header);
  const NiftiHeader header = head.header;
  std::optional<uint64_t> limit;
  if (volume) limit = end_of_volume(header, *volume);
  if (head.foreign) {
    const std::string data_name =
        head.foreign->data_file.empty() ? names.header : data_path(names.header, head.foreign->data_file);
    FileContent data = foreign_content(std::move(head), data_name, limit);
    return NiftiImage(path, data_name, header, std::move(data));
  }
  if (header.single_file) {
    if (names.header != names.data)
      fail(names.header, "holds a single-file image (magic \"n+" + std::to_string(header.version) +
                             "\"), not the header of a .hdr/.img pair");
    FileContent data = voxel_content(std::move(head.fd), head.gzip, names.header, limit);
    return NiftiImage(path, names.header, header, std::move(data));
  }
  if (names.header == names.data)
    fail(path, "its header says the voxels are in a separate .img file, but the name does not end in .hdr");
  UniqueFd fd = open_regular_file(names.data);
  const bool gzip = is_gzip(fd.get(), names.data);
  FileContent data = voxel_content(std::move(fd), gzip, names.data, limit);
  return NiftiImage(path, names.data, header, std::move(data));
}

NiftiImage NiftiImage::open(const std::string &path, int64_t volume) { return open_image(path, volume); }

NiftiImage NiftiImage::open_header(const std::string &path) { return open_image(path, std::nullopt); }

NiftiImage NiftiImage::from_bytes(const void *bytes, std::size_t size, const std::string &name) {
  UniqueFd fd = make_anonymous_file(name);
  write_all(fd.get(), bytes, size, name);
  const bool sealed = seal_against_shrinking(fd.get());
  HeaderFile head = read_header_file(std::move(fd), name);
  const NiftiHeader header = head.header;
  if (head.foreign) {
    if (!head.foreign->data_file.empty()) fail(name, "is a header whose voxels are in another file, not in memory");
    FileContent data = foreign_content(std::move(head), name, end_of_volume(header, 0));
    if (!data.compressed) data.sealed = sealed;
    return NiftiImage(name, name, header, std::move(data));
  }
  if (!head.header.single_file) fail(name, "is the header of a .hdr/.img pair; its voxels are not in memory");
  FileContent data = voxel_content(std::move(head.fd), head.gzip, name, end_of_volume(head.header, 0));
  if (!data.compressed) data.sealed = sealed;
  return NiftiImage(name, name, head.header, std::move(data));
}

NiftiHeader NiftiImage::read_header(const std::string &path) {
  const std::string header_path = image_file_names(path).header;
  return read_header_file(open_regular_file(header_path), header_path).header;
}

}  // namespace vaeng
