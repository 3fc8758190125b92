#include <deque>
#include <mutex>
#include <utility>

#include "settings/core.h"

namespace settings::core {

namespace {

std::mutex &queue_lock() {
  static std::mutex lock;
  return lock;
}

std::deque<PendingWrite> &queue() {
  static std::deque<PendingWrite> writes;
  return writes;
}

// Takes the next write off the queue, or an empty one when none is left.
PendingWrite next_write() {
  std::lock_guard<std::mutex> guard(queue_lock());
  if (queue().empty()) return PendingWrite();
  PendingWrite write = std::move(queue().front());
  queue().pop_front();
  return write;
}

}  // namespace

void queueWrite(PendingWrite write) {
  std::lock_guard<std::mutex> guard(queue_lock());
  queue().push_back(std::move(write));
}

void waitForWriteQueueToFinish() {
  // Each write runs outside the lock so that it may queue further writes.
  while (PendingWrite write = next_write()) write();
}

std::size_t pendingWrites() {
  std::lock_guard<std::mutex> guard(queue_lock());
  return queue().size();
}

}  // namespace settings::core
