// The last resort of the host's libraries when the process cannot go on.
#ifndef SYSTEM_PANIC_H
#define SYSTEM_PANIC_H

namespace System {

// Writes "Panic (code N): " and the formatted text, with a newline, to the
// standard error stream and aborts the process.
[[noreturn]] void panicsf(int code, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace System

#endif
