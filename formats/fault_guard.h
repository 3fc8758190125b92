// What the program does when a mapped image shrinks under it. The volume
// library reads voxels straight from the mapping, so a file truncated by
// another process turns those reads into SIGBUS; without a handler the
// program would die silently, mid-way through its output. The library
// stays free of signal handling: the program owns it here.
#ifndef VOLACCESS_FORMATS_FAULT_GUARD_H
#define VOLACCESS_FORMATS_FAULT_GUARD_H

#include <signal.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vaeng {

// The reason given when an image no longer holds what was mapped of it.
extern const char kChangedOnDisk[];

// While one lives, SIGBUS prints "volaccess: <image>: the image changed
// on disk while it was being read", removes the output registered with
// abandon_on_fault and ends the program with status 1. Guards nest: the
// innermost names the image, and each restores what it replaced.
class FaultGuard {
 public:
  explicit FaultGuard(const std::string &image);
  ~FaultGuard();
  FaultGuard(const FaultGuard &) = delete;
  FaultGuard &operator=(const FaultGuard &) = delete;

 private:
  std::string previous_message_;
  struct sigaction previous_action_ {};
};

// Names the partial output file (a hidden temporary) that a fault, or
// SIGINT, SIGTERM or SIGHUP, must remove before the program ends as the
// signal says; an empty name, or keep_on_fault(), registers none. Names
// longer than a path can be are not registered. SIGKILL cannot be caught:
// it leaves the temporary behind.
void abandon_on_fault(const std::string &path);
void keep_on_fault();

// For a process that must outlive a file shrinking under its mappings
// (the Python module), where FaultGuard would end it: while a range is
// watched, SIGBUS inside it maps zero pages over the rest of the range, so
// that the read that faulted and every later one go on, and sets the
// watch's flag; the owner checks the flag after its reads and fails
// instead of keeping what it read. SIGBUS anywhere else goes to the
// handler that was in place before the first watch. A FaultGuard made
// later takes precedence while it lives, as for the program.
// Safe with many threads and many watches: a watch stops before its
// destructor returns, even while another thread's handler is running.
class FaultWatch {
 public:
  FaultWatch() = default;
  ~FaultWatch();
  FaultWatch(const FaultWatch &) = delete;
  FaultWatch &operator=(const FaultWatch &) = delete;

  // Watches `length` bytes from `begin` (a mapping made with mmap, so
  // page-aligned) until destruction. The first call in the process
  // installs the handler.
  void watch(const void *begin, uint64_t length);
  // Whether a fault was caught in one of the ranges; stays true.
  bool faulted() const { return faulted_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> faulted_{false};
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges_;
};

}  // namespace vaeng

#endif
