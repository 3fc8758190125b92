// MATLAB level-4 files, the form in which ITK and ANTs write transforms
// as .mat files: a run of variables, each a header, a name and a matrix
// of numbers.
#ifndef VOLACCESS_FORMATS_MAT4_H
#define VOLACCESS_FORMATS_MAT4_H

#include <cstddef>
#include <string>
#include <vector>

namespace vaeng {

// One variable of a MATLAB level-4 file: its name and its elements in
// the file's (column-major) order.
struct MatVariable {
  std::string name;
  std::vector<double> values;
};

// Reads every variable of a level-4 file held in `bytes`; a malformed or
// truncated file is a Error naming `name`.
std::vector<MatVariable> parse_mat4(const unsigned char *bytes, std::size_t size, const std::string &name);

// Whether the first bytes of a file (at least 20 of them) start a level-4
// file, in either byte order.
bool looks_like_mat4(const unsigned char *bytes, std::size_t size);

}  // namespace vaeng

#endif
