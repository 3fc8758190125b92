// What the readers of the other image formats share: the text of
// key-value headers (NRRD, MetaImage), strict numbers, and the completion
// of a header from its shape and matrix with NIfTI's own checks.
#ifndef VOLACCESS_FORMATS_HEADER_TEXT_H
#define VOLACCESS_FORMATS_HEADER_TEXT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix.h"
#include "nifti_header.h"

namespace vaeng {

// One line of a text header, without its end of line, and the byte
// position just past its end of line.
struct HeaderLine {
  std::string text;
  std::size_t end = 0;
};

// The lines of `bytes` up to and without the first empty line, or up to
// the first that holds a NUL or is too long for a header (binary data),
// or to the end of the bytes; *blank_end is set past that empty line (0
// if none).
std::vector<HeaderLine> header_lines(const unsigned char *bytes, std::size_t size, std::size_t *blank_end);

// `text` without blanks at either end.
std::string trimmed(const std::string &text);

// The numbers of a field's value (blanks or commas between them), exactly
// `count` of them unless count is 0; else an Error naming the field.
std::vector<double> field_numbers(const std::string &value, std::size_t count, const std::string &field,
                                  const std::string &name);
// A whole number of a field's value, within [low, high].
int64_t field_integer(const std::string &value, int64_t low, int64_t high, const std::string &field,
                      const std::string &name);

// The matrix with world x and y negated: LPS to RAS, and back.
Mat4 flip_xy(const Mat4 &m);

// The length of column `c` (0 to 2) of a voxel-to-world matrix: a voxel
// size. A zero length is an Error naming `name`.
double column_length(const Mat4 &m, int c, const std::string &name);

// Completes `out` for an image of another format: its shape (`dim` as
// NIfTI's), its NIfTI datatype code, the position of its first voxel and
// its matrix from 0-based voxel indices to RAS world points, which comes
// from `matrix_source`. Fails with an Error naming `name`.
void complete_header(NiftiHeader *out, const std::array<int64_t, 8> &dim, int datatype, uint64_t vox_offset,
                     const Mat4 &voxel_to_world, const char *matrix_source, const std::string &name);

// Whether a file whose values are big-endian (or not) holds them in the
// byte order opposite to this machine's.
bool swapped_on_this_machine(bool big_endian);

}  // namespace vaeng

#endif
