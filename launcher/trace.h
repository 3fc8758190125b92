// Trace lines: when tracing is on, the pieces are written to standard output
// one after another, the line ends with a newline, and the stream is flushed.
#pragma once

#include <iostream>

#include "output_manager.h"

template <typename... Pieces>
void trace_line(const OutputManager &out, const Pieces &...pieces) {
  if (!out.verbose) return;
  (std::cout << ... << pieces) << '\n';
  std::cout.flush();
}
