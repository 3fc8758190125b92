#include "workers.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace vaeng {

namespace {

// oneTBB keeps some 7 KiB for every arena a thread has run work in, even
// once the arena is gone, and each later arena then costs more: a command
// or a Python call made one per call, so thousands of calls grew without
// bound and slowed down. Each thread count has one arena instead, made on
// first use and kept (never destroyed, so that no thread still running at
// exit finds it gone), shared by every Workers of that count.
oneapi::tbb::task_arena &shared_arena(int threads) {
  static std::mutex lock;
  static auto *arenas = new std::map<int, std::unique_ptr<oneapi::tbb::task_arena>>();
  const std::lock_guard<std::mutex> held(lock);
  std::unique_ptr<oneapi::tbb::task_arena> &arena = (*arenas)[threads];
  if (!arena) {
    arena = std::make_unique<oneapi::tbb::task_arena>(threads);
    // Initialised here, under the lock: two threads starting to use a new
    // arena at once must not both set it up.
    arena->initialize();
  }
  return *arena;
}

}  // namespace

// oneTBB caps its workers at the machine's CPUs unless told otherwise;
// the global limit lets a user ask for more threads than that.
struct Workers::Arena {
  explicit Arena(int threads)
      : limit(oneapi::tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads)),
        arena(shared_arena(threads)) {}
  oneapi::tbb::global_control limit;
  oneapi::tbb::task_arena &arena;
};

Workers::Workers(int threads) : threads_(std::max(threads, 1)) {
  if (threads_ > 1) arena_ = std::make_unique<Arena>(threads_);
}

Workers::~Workers() = default;

void Workers::for_each(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)> &body) const {
  if (count <= 0) return;
  grain = std::max<int64_t>(grain, 1);
  if (!arena_) {
    for (int64_t begin = 0; begin < count; begin += grain) body(begin, std::min(count, begin + grain));
    return;
  }
  // The simple partitioner cuts the range down to the grain and no
  // further, so every piece is at most `grain` long.
  arena_->arena.execute([&] {
    oneapi::tbb::parallel_for(
        oneapi::tbb::blocked_range<int64_t>(0, count, static_cast<std::size_t>(grain)),
        [&](const oneapi::tbb::blocked_range<int64_t> &r) { body(r.begin(), r.end()); },
        oneapi::tbb::simple_partitioner());
  });
}

}  // namespace vaeng
