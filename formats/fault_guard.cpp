#include "fault_guard.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

#include "errors.h"

namespace vaeng {

const char kChangedOnDisk[] = "the image changed on disk while it was being read";

namespace {

// The handler may only read prepared bytes: it runs in the middle of a
// kernel's read and can call nothing that allocates or locks.
char g_message[PATH_MAX + 128];
volatile std::sig_atomic_t g_message_length = 0;
char g_abandoned[PATH_MAX + 1];
volatile std::sig_atomic_t g_has_abandoned = 0;
// Threads sampling side by side may all fault on the shrunken file; the
// first reports and ends the program, the others wait for that (a
// handler that returned would only fault again).
std::atomic<bool> g_reporting{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");

void on_bus_error(int) {
  if (g_reporting.exchange(true)) {
    for (;;) ::pause();
  }
  if (g_has_abandoned) ::unlink(g_abandoned);
  std::size_t done = 0;
  const std::size_t length = static_cast<std::size_t>(g_message_length);
  while (done < length) {
    const ssize_t n = ::write(STDERR_FILENO, g_message + done, length - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::_exit(1);
}

std::string message_for(const std::string &image) {
  std::string text = "volaccess: " + printable(image) + ": " + kChangedOnDisk + "\n";
  // A name too long for the buffer still leaves a whole, ended line.
  if (text.size() > sizeof g_message) text = text.substr(0, sizeof g_message - 4) + "...\n";
  return text;
}

void set_message(const std::string &text) {
  g_message_length = 0;
  std::memcpy(g_message, text.data(), text.size());
  g_message_length = static_cast<std::sig_atomic_t>(text.size());
}

}  // namespace

FaultGuard::FaultGuard(const std::string &image)
    : previous_message_(g_message, static_cast<std::size_t>(g_message_length)) {
  set_message(message_for(image));
  struct sigaction action {};
  action.sa_handler = on_bus_error;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous_action_);
}

FaultGuard::~FaultGuard() {
  ::sigaction(SIGBUS, &previous_action_, nullptr);
  set_message(previous_message_);
}

namespace {

// Ends the program as the signal would have, without the partial output.
void on_termination(int signal) {
  if (g_has_abandoned) ::unlink(g_abandoned);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

// Signals a user or a session sends to stop the program; ones the program
// was started to ignore stay ignored.
void catch_termination() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_termination;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

void abandon_on_fault(const std::string &path) {
  catch_termination();
  g_has_abandoned = 0;
  if (path.empty() || path.size() >= sizeof g_abandoned) return;
  std::memcpy(g_abandoned, path.c_str(), path.size() + 1);
  g_has_abandoned = 1;
}

void keep_on_fault() { g_has_abandoned = 0; }

}  // namespace vaeng
