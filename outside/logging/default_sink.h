// The destination of records when the environment enables a logger.
#ifndef FOUNDATION_DEFAULT_SINK_H
#define FOUNDATION_DEFAULT_SINK_H

namespace foundation::log {

// Adds, once per process, a sink that writes every record as one line
// "<channel> <level> <file>:<line> <indent><message>" to the file named
// by CALVEX_DIAGNOSTIC_LOG, or to standard error.
void install_default_sink();

}  // namespace foundation::log

#endif
