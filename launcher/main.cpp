// app_launcher: starts a packaged Calvex application on the one Calvex
// Runtime version it was built for. libqvlaunchermain is bound by the system
// loader through the run paths before any of this runs.
#include "launcher.h"

int main(int argc, char **argv) {
  OutputManager out = launcher_output_from_environment();
  return arcxLauncherMainFunc(static_cast<unsigned long>(argc), argv, out);
}
