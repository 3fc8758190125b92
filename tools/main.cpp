// volaccess: sample, slice and reslice NIfTI images through the volume library.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "commands.h"

namespace {

// A program started with descriptor 0, 1 or 2 closed would hand that
// number to the first file it opens: an image would then be read as
// points, or messages written into it. /dev/null takes their place; in
// place of standard output it is open for reading only, so that results
// written there fail as they would have, instead of vanishing.
void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
    if (null != fd) std::_Exit(1);
  }
}

}  // namespace

int main(int argc, char **argv) {
  open_standard_descriptors();
  return vacli::run_program(argc, argv);
}
