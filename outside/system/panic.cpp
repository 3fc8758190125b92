#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "system_panic.h"

namespace System {

void panicsf(int code, const char *format, ...) {
  std::fprintf(stderr, "Panic (code %d): ", code);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace System
