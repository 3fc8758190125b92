// Entry and exit records of the gateway's steps.
#ifndef ZCC_TRACE_SCOPE_H
#define ZCC_TRACE_SCOPE_H

#include "foundation/log.h"

using DiagnosticLogger = foundation::log::basic_diagnostic_logger<char>;

// The module's logger on the channel "deployment::zcc_ext"; it lives as
// long as the module is loaded.
DiagnosticLogger &zcc_logger();

// Created first and destroyed last in a step. When the logger enables
// trace entries, writes the signature at entry level, nests the thread
// one deeper, and on destruction writes the signature at exit level,
// marked " [throw]" while an exception is unwinding.
class TraceScope {
 public:
  TraceScope(DiagnosticLogger &logger, const char *signature, const char *file, int line);
  ~TraceScope();
  TraceScope(const TraceScope &) = delete;
  TraceScope &operator=(const TraceScope &) = delete;

 private:
  void write(unsigned level, bool thrown);

  DiagnosticLogger &logger_;
  bool active_;
  const char *signature_;
  const char *file_;
  int line_;
};

#endif
