#include "dispatcher.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fl/i18n.h"

Cdispatcher &Cdispatcher::getDispatcher() {
  static Cdispatcher dispatcher;
  return dispatcher;
}

PathManagement::IPath Cdispatcher::GetCurrentPath() const {
  std::vector<char> buffer(256);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE)
      throw PathManagement::path_error{errno,
                                       std::string("Cannot determine the current folder: ") + std::strerror(errno)};
    buffer.resize(buffer.size() * 2);
  }
  return PathManagement::IPath(fl::i18n::to_ustring(buffer.data()));
}
