// The program's commands. Each is described by one CommandDef in its own
// command_*.cpp: its options, its help text (generated from them) and the
// function that runs it, which writes its results and throws Error (or
// ArgumentError) on failure.
#ifndef VOLACCESS_TOOLS_COMMANDS_H
#define VOLACCESS_TOOLS_COMMANDS_H

#include <string>
#include <vector>

#include "arguments.h"

namespace vacli {

using namespace vaeng;  // the engine's and the formats' names

struct CommandDef {
  const char *name;
  const char *synopsis;     // the arguments shown in the program's overview
  const char *summary;      // the command's line in the overview
  const char *usage;        // the arguments shown in the command's usage line
  const char *description;  // the paragraph above the options in its help
  std::vector<OptionDef> options;
  void (*run)(const Arguments &args);
};

const CommandDef &info_command();
const CommandDef &sample_command();
const CommandDef &slice_command();
const CommandDef &reslice_command();
const CommandDef &check_command();
const CommandDef &demo_command();

// The program's overview, and the help of one command, as printed.
std::string overview_text();
std::string help_text(const CommandDef &command);

// Runs the command line; returns the exit status. Errors are reported
// here, once, as one line on standard error.
int run_program(int argc, char **argv);

}  // namespace vacli

#endif
