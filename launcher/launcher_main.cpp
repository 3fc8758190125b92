// The main flow: check the runtime, resolve the launcher's own path, hand the
// command line to the runtime launcher library. Every failure is caught here,
// once, and becomes an error line and -1.
#include <exception>
#include <stdexcept>

#include "launcher.h"
#include "qvlaunchermain.h"

int arcxLauncherMainFunc(unsigned long argc, char **argv, OutputManager &out) {
  try {
    // Without a program name there is no directory to search from. Linux
    // hands a start with an empty argument list an empty name: the same case.
    if (argc == 0 || argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0')
      throw std::runtime_error("The launcher was started without a program name.");
    std::string program = argv[0];
    const std::string dir = get_AppDir(program);
    // From Contents/MacOS up to the directory that holds the bundle.
    std::string root = join_paths(2, dir.c_str(), "/../../..");
    if (out.verbose) out.outputStatus(root.c_str(), "Status");
    checkVXRVersion(root, out);

    std::vector<std::string> args;
    args.reserve(argc);
    args.push_back(getApplicationFullPath(std::string(argv[0]), out));
    for (unsigned long i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return standaloneMain(args);
  } catch (const std::exception &e) {
    const std::string message = e.what();
    out.outputError(message.c_str());
    return -1;
  } catch (...) {
    out.outputError("Application execution failed.");
    return -1;
  }
}
