// The host's dispatcher, asked for the host's current folder.
#ifndef DISPATCHER_H
#define DISPATCHER_H

#include <string>
#include <utility>

#include "fl/ustring.h"

namespace PathManagement {

// A folder of the host, in native form.
class IPath {
 public:
  explicit IPath(fl::ustring native) : native_(std::move(native)) {}
  const fl::ustring &native() const { return native_; }

 private:
  fl::ustring native_;
};

// The path layer's own failure. Like the rest of that older layer it is
// not a standard exception; callers catch it by type or with catch (...).
struct path_error {
  int error_number;
  std::string message;
};

}  // namespace PathManagement

class Cdispatcher {
 public:
  // The one dispatcher of the process.
  static Cdispatcher &getDispatcher();

  // The host's current folder (the process's working directory). Throws
  // PathManagement::path_error when it cannot be determined, for instance
  // after the folder was deleted.
  PathManagement::IPath GetCurrentPath() const;

 private:
  Cdispatcher() = default;
};

#endif
