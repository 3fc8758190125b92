// calvex_host MODULE [ARG...]: loads an extension module and calls it once
// with its arguments as char arrays, as the host does for a command.
#include <cstdio>
#include <exception>
#include <vector>

#include "calvex/host.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODULE [ARG...]\n", argv[0]);
    return 2;
  }
  try {
    calvex::set_console_echo(true);
    calvex::Module module(argv[1]);
    std::vector<hxArray *> args;
    for (int i = 2; i < argc; ++i) args.push_back(hxCreateString(argv[i]));
    std::vector<const hxArray *> inputs(args.begin(), args.end());
    hxArray *outputs[1] = {nullptr};
    calvex::CallResult r = module.call(0, outputs, static_cast<int>(inputs.size()), inputs.data());
    for (hxArray *a : args) hxDestroyArray(a);
    if (!r.ok) {
      if (r.identifier.empty())
        std::fprintf(stderr, "Error: %s\n", r.message.c_str());
      else
        std::fprintf(stderr, "Error (%s): %s\n", r.identifier.c_str(), r.message.c_str());
      return 1;
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "calvex_host: %s\n", e.what());
    return 1;
  }
  return 0;
}
