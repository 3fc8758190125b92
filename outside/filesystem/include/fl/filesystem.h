// Path text and directory removal on UTF-16 paths.
#ifndef FL_FILESYSTEM_H
#define FL_FILESYSTEM_H

#include <cstdint>
#include <stdexcept>

#include "fl/ustring.h"

namespace fl::filesystem {

// Thrown when the file system refuses an operation; the message names the path.
class filesystem_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Removes `path` and everything beneath it; returns the number of entries
// removed. Throws filesystem_error when the path does not exist or an
// entry cannot be removed.
std::uintmax_t remove_all(const ustring &path);

namespace detail {

// The path with runs of '/' collapsed to one and, when
// `strip_trailing_separator`, without a trailing '/' (the root "/" stays).
ustring make_native_form(const ustring &path, bool strip_trailing_separator);

// `base` joined with the entry `name` by one '/'; just `name` when `base`
// is empty.
ustring concatenate_pathname(const ustring &base, const ustring &name);

}  // namespace detail

}  // namespace fl::filesystem

#endif
