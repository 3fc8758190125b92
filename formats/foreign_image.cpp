#include "foreign_image.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "errors.h"
#include "memory_budget.h"

namespace vaeng {

namespace {

struct Inflater {
  z_stream z{};
  explicit Inflater(const std::string &what) {
    // 32 more than the window bits: gzip or zlib, whichever the header is.
    if (inflateInit2(&z, 15 + 32) != Z_OK) fail(what, "cannot start decompressing");
  }
  ~Inflater() { inflateEnd(&z); }
  Inflater(const Inflater &) = delete;
  Inflater &operator=(const Inflater &) = delete;
};

std::string zlib_reason(const z_stream &z, int code) {
  if (z.msg) return z.msg;
  return code == Z_BUF_ERROR ? "the stream ends early" : "error " + std::to_string(code);
}

}  // namespace

ForeignHeader parse_foreign_header(ImageFormat format, const unsigned char *bytes, std::size_t size,
                                   bool whole_file_gzip, const std::string &name) {
  ForeignHeader out = format == ImageFormat::Mgh    ? parse_mgh_header(bytes, size, name)
                      : format == ImageFormat::Nrrd ? parse_nrrd_header(bytes, size, name)
                                                    : parse_metaimage_header(bytes, size, name);
  if (!whole_file_gzip) return out;
  if (out.compressed || !out.data_file.empty())
    fail(name, "is gzip-compressed as a whole, but its header says its voxels are compressed or elsewhere");
  out.compressed = true;
  out.data_start = 0;
  return out;
}

std::string data_path(const std::string &header_path, const std::string &data_file) {
  if (data_file.empty() || data_file[0] == '/') return data_file;
  const std::size_t slash = header_path.rfind('/');
  return slash == std::string::npos ? data_file : header_path.substr(0, slash + 1) + data_file;
}

FileContent inflate_stream(int fd, uint64_t start, uint64_t limit, const std::string &what) {
  check_memory_share(limit, what, "decompressed, the image");
  FileContent out;
  out.fd = make_anonymous_file(what);
  out.compressed = true;
  Inflater inflater(what);
  z_stream &z = inflater.z;
  std::vector<unsigned char> in(1 << 20), block(1 << 20);
  uint64_t position = start;
  int code = Z_OK;
  while (out.size < limit && code != Z_STREAM_END) {
    if (z.avail_in == 0) {
      const std::size_t got = read_at(fd, in.data(), in.size(), position, what);
      if (got == 0) fail(what, "corrupt compressed data: the stream ends early");
      position += got;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = block.data();
    z.avail_out = static_cast<uInt>(std::min<uint64_t>(block.size(), limit - out.size));
    code = inflate(&z, Z_NO_FLUSH);
    if (code != Z_OK && code != Z_STREAM_END && !(code == Z_BUF_ERROR && z.avail_in == 0))
      fail(what, "corrupt compressed data: " + zlib_reason(z, code));
    const std::size_t made = static_cast<std::size_t>(z.next_out - block.data());
    write_all(out.fd.get(), block.data(), made, what + " (decompressed)");
    out.size += made;
  }
  out.sealed = seal_against_shrinking(out.fd.get());
  return out;
}

}  // namespace vaeng
