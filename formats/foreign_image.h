// Opening images of the other formats (image_formats.h): their headers
// from a file's first bytes, the file that holds their voxels, and their
// compressed voxels decompressed.
#ifndef VOLACCESS_FORMATS_FOREIGN_IMAGE_H
#define VOLACCESS_FORMATS_FOREIGN_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "image_formats.h"
#include "nifti_image.h"

namespace vaeng {

// The most a text header may take; its voxels come after it.
constexpr std::size_t kTextHeaderLimit = 1 << 20;

// The header of a file of `format`, from its first bytes (decompressed
// when `whole_file_gzip`, as MGZ is; the voxels are then the file's own
// stream from its start).
ForeignHeader parse_foreign_header(ImageFormat format, const unsigned char *bytes, std::size_t size,
                                   bool whole_file_gzip, const std::string &name);

// The path of a data file a header names, relative to the header's folder.
std::string data_path(const std::string &header_path, const std::string &data_file);

// Decompresses the gzip or zlib stream that begins at byte `start` of `fd`
// into an unnamed file, up to `limit` bytes (a bomb is read no further),
// after checking that they are a sane share of memory.
FileContent inflate_stream(int fd, uint64_t start, uint64_t limit, const std::string &what);

}  // namespace vaeng

#endif
