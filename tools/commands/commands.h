// The program's commands. Each takes the words after its name, writes its
// results, and throws CliError (or UsageError) on failure.
#ifndef VOLACCESS_TOOLS_COMMANDS_H
#define VOLACCESS_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace vacli {

using Words = std::vector<std::string>;

void command_info(const Words &words);
void command_sample(const Words &words);
void command_slice(const Words &words);
void command_reslice(const Words &words);
void command_demo(const Words &words);

// Runs the command line; returns the exit status. Errors are reported
// here, once, as one line on standard error.
int run_program(int argc, char **argv);

// Help texts: the overview, and that of one command (empty if unknown).
std::string program_help();
std::string command_help(const std::string &command);

// True when the words ask for the command's help.
bool wants_help(const Words &words);

}  // namespace vacli

#endif
