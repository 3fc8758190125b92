#include "nifti_image.h"

#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "cli_error.h"
#include "text_numbers.h"

namespace vacli {

namespace {

bool is_gzip(int fd, const std::string &what) {
  unsigned char magic[2] = {0, 0};
  return read_at(fd, magic, 2, 0, what) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

// zlib prefixes its messages with "<fd:N>: "; the user knows the file by name.
std::string gzip_reason(gzFile gz) {
  int code = Z_OK;
  std::string text = gzerror(gz, &code);
  if (text.rfind("<fd:", 0) == 0) {
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos) text.erase(0, colon + 2);
  }
  return text.empty() ? "unknown error" : text;
}

struct GzClose {
  void operator()(gzFile_s *gz) const { gzclose(gz); }
};

FileContent decompress(int fd, const std::string &what) {
  UniqueFd copy(::dup(fd));
  if (!copy.valid()) fail_system(what, "cannot read", errno);
  if (::lseek(copy.get(), 0, SEEK_SET) != 0) fail_system(what, "cannot read", errno);
  std::unique_ptr<gzFile_s, GzClose> gz(gzdopen(copy.get(), "rb"));
  if (!gz) fail(what, "cannot read the gzip stream");
  copy.release();
  FileContent out;
  out.fd = make_anonymous_file(what);
  out.compressed = true;
  std::vector<unsigned char> block(1 << 20);
  for (;;) {
    const int got = gzread(gz.get(), block.data(), static_cast<unsigned>(block.size()));
    if (got < 0) fail(what, "corrupt gzip data: " + gzip_reason(gz.get()));
    if (got == 0) break;
    write_all(out.fd.get(), block.data(), static_cast<std::size_t>(got), what + " (decompressed)");
    out.size += static_cast<uint64_t>(got);
  }
  int code = Z_OK;
  gzerror(gz.get(), &code);
  if (code != Z_OK) fail(what, "corrupt gzip data: " + gzip_reason(gz.get()));
  out.sealed = seal_against_shrinking(out.fd.get());
  return out;
}

FileContent content_of(UniqueFd fd, const std::string &what) {
  if (is_gzip(fd.get(), what)) return decompress(fd.get(), what);
  FileContent out;
  out.size = file_size(fd.get(), what);
  out.fd = std::move(fd);
  return out;
}

NiftiHeader header_of(const FileContent &content, const std::string &what) {
  unsigned char bytes[kNiftiMaxHeaderSize];
  const std::size_t got = read_at(content.fd.get(), bytes, sizeof bytes, 0, what);
  return parse_nifti_header(bytes, got, what);
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

}  // namespace

FileContent open_content(const std::string &path) { return content_of(open_regular_file(path), path); }

FileContent content_from_bytes(const void *bytes, std::size_t size, const std::string &name) {
  UniqueFd fd = make_anonymous_file(name);
  write_all(fd.get(), bytes, size, name);
  const bool sealed = seal_against_shrinking(fd.get());
  FileContent content = content_of(std::move(fd), name);
  if (!content.compressed) content.sealed = sealed;
  return content;
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

NiftiImage NiftiImage::open(const std::string &path) {
  const ImageFileNames names = image_file_names(path);
  FileContent head = open_content(names.header);
  NiftiHeader header = header_of(head, names.header);
  if (header.single_file) {
    if (names.header != names.data)
      fail(names.header, "holds a single-file image (magic \"n+" + std::to_string(header.version) +
                             "\"), not the header of a .hdr/.img pair");
    return NiftiImage(path, names.header, header, std::move(head));
  }
  if (names.header == names.data)
    fail(path, "its header says the voxels are in a separate .img file, but the name does not end in .hdr");
  FileContent data = open_content(names.data);
  return NiftiImage(path, names.data, header, std::move(data));
}

NiftiImage NiftiImage::from_bytes(const void *bytes, std::size_t size, const std::string &name) {
  FileContent content = content_from_bytes(bytes, size, name);
  NiftiHeader header = header_of(content, name);
  if (!header.single_file) fail(name, "is the header of a .hdr/.img pair; its voxels are not in memory");
  return NiftiImage(name, name, header, std::move(content));
}

NiftiHeader NiftiImage::read_header(const std::string &path) {
  const std::string header_path = image_file_names(path).header;
  return header_of(open_content(header_path), header_path);
}

}  // namespace vacli
