#include "npy_writer.h"

#include "output_file.h"
#include "unique_fd.h"

namespace vaeng {

std::string npy_header(int32_t width, int32_t height) {
  const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  std::string dict = std::string("{'descr': '") + (little ? "<" : ">") + "f8', 'fortran_order': True, 'shape': (" +
                     std::to_string(width) + ", " + std::to_string(height) + "), }";
  // Magic (6) + version (2) + length (2) + dict + padding + newline is a
  // multiple of 64, so the data is aligned for memory mapping.
  std::size_t total = 10 + dict.size() + 1;
  dict.append((64 - total % 64) % 64, ' ');
  dict += '\n';
  std::string header("\x93NUMPY\x01\x00", 8);
  header += static_cast<char>(dict.size() & 0xff);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

void write_npy(const std::string &path, const std::vector<double> &pixels, int32_t width, int32_t height) {
  OutputFile out(path);
  const std::string header = npy_header(width, height);
  write_all(out.fd(), header.data(), header.size(), path);
  write_all(out.fd(), pixels.data(), pixels.size() * sizeof(double), path);
  out.commit();
}

}  // namespace vaeng
