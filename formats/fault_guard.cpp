#include "fault_guard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

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

namespace vaeng {

namespace {

// The watched ranges, published whole: the handler reads a table while
// writers, under a lock, replace it and free the old one only once no
// handler is reading (it may run on any thread, at any time).
struct WatchedRange {
  uintptr_t begin;
  uintptr_t end;
  std::atomic<bool> *faulted;
};
using WatchTable = std::vector<WatchedRange>;

std::atomic<const WatchTable *> g_watched{nullptr};
std::atomic<int> g_handlers_reading{0};
std::mutex g_watch_writers;
struct sigaction g_before_watch {};
uintptr_t g_page_size = 4096;

// Zeros over the vanished part of the watched range holding `address`.
bool catch_in_watched(uintptr_t address) {
  g_handlers_reading.fetch_add(1);
  const WatchTable *table = g_watched.load();
  bool caught = false;
  // Every watch of the range is told: two owners may watch one mapping.
  for (std::size_t i = 0; table && i < table->size(); ++i) {
    const WatchedRange &r = (*table)[i];
    if (address < r.begin || address >= r.end) continue;
    const uintptr_t page = address & ~(g_page_size - 1);
    void *zeros =
        ::mmap(reinterpret_cast<void *>(page), r.end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros == MAP_FAILED) continue;
    caught = true;
    r.faulted->store(true, std::memory_order_release);
  }
  g_handlers_reading.fetch_sub(1);
  return caught;
}

void on_watched_fault(int signal, siginfo_t *info, void *context) {
  if (catch_in_watched(reinterpret_cast<uintptr_t>(info->si_addr))) return;
  if (g_before_watch.sa_flags & SA_SIGINFO) return g_before_watch.sa_sigaction(signal, info, context);
  if (g_before_watch.sa_handler != SIG_DFL && g_before_watch.sa_handler != SIG_IGN)
    return g_before_watch.sa_handler(signal);
  // The default action: a fault recurs when the read is retried, a sent
  // signal is sent again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  if (info->si_code <= 0) ::raise(signal);
}

void install_watch_handler() {
  g_page_size = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  // The handler chains to the one before, so that must be known first.
  ::sigaction(SIGBUS, nullptr, &g_before_watch);
  struct sigaction action {};
  action.sa_sigaction = on_watched_fault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

// Replaces the table by `next` with the writers' lock held.
void publish(std::unique_ptr<WatchTable> next) {
  const std::unique_ptr<const WatchTable> old(g_watched.exchange(next.release()));
  while (g_handlers_reading.load() != 0) std::this_thread::yield();
}

}  // namespace

void FaultWatch::watch(const void *begin, uint64_t length) {
  static std::once_flag installed;
  std::call_once(installed, install_watch_handler);
  const auto first = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t end = first + ((length + g_page_size - 1) & ~(g_page_size - 1));
  const std::lock_guard<std::mutex> lock(g_watch_writers);
  const WatchTable *current = g_watched.load();
  auto next = current ? std::make_unique<WatchTable>(*current) : std::make_unique<WatchTable>();
  next->push_back({first, end, &faulted_});
  publish(std::move(next));
  ranges_.emplace_back(first, end);
}

FaultWatch::~FaultWatch() {
  if (ranges_.empty()) return;
  const std::lock_guard<std::mutex> lock(g_watch_writers);
  auto next = std::make_unique<WatchTable>(*g_watched.load());
  next->erase(std::remove_if(next->begin(), next->end(), [&](const WatchedRange &r) { return r.faulted == &faulted_; }),
              next->end());
  publish(std::move(next));
}

}  // namespace vaeng
