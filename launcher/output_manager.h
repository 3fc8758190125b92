// The launcher's output switches and writers: trace and status lines on
// standard output (written only when tracing is on, a test the caller makes),
// and error lines, which always reach the user.
#pragma once

#include <cstdint>

class OutputManager {
 public:
  // Tracing is on. Every trace or status line is written only when this is
  // true; the code that writes the line tests it, outputStatus does not.
  bool verbose = false;
  // Where outputError writes: 0 wide standard output; 1 the same, but only
  // when message boxes are off and not silent; 2 to 4 standard error; any
  // other value nowhere. The launcher always sets 2.
  int32_t outputMode = 2;
  // Message boxes are switched off. Only mode 1 consults it.
  bool disableMessageBox = false;
  // In mode 1, write nothing. The launcher always leaves it false.
  bool silent = false;

  // The prefix of every error line.
  static const char PREFIX[];

  // Writes PREFIX, ": ", `message` and a newline where outputMode says, then
  // flushes that stream. An empty message writes nothing in any mode.
  void outputError(const char *message);

  // Writes `label`, ": ", `text` and a newline to standard output, flushes
  // std::cout and then the C library's stdout. Consults no field.
  void outputStatus(const char *text, const char *label);
};
