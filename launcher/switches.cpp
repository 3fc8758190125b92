#include <cstdlib>

#include "launcher.h"

bool launcher_switch_on(const char *value) {
  // Only the first byte counts: "0", "00" and "0x" are off, " 0" is on.
  return value != nullptr && value[0] != '\0' && value[0] != '0';
}

OutputManager launcher_output_from_environment() {
  OutputManager out;
  out.verbose = launcher_switch_on(std::getenv("ARCX_VERBOSE"));
  out.disableMessageBox = launcher_switch_on(std::getenv("ARCX_DISABLE_MSGBOX"));
  out.outputMode = 2;
  out.silent = false;
  return out;
}
