// The threads of one command or call: the process's oneTBB arena of the
// chosen size, or, for one thread, plain loops on the calling thread and
// no other thread.
#ifndef VOLACCESS_ENGINE_WORKERS_H
#define VOLACCESS_ENGINE_WORKERS_H

#include <cstdint>
#include <functional>
#include <memory>

namespace vaeng {

class Workers {
 public:
  explicit Workers(int threads);
  ~Workers();
  Workers(const Workers &) = delete;
  Workers &operator=(const Workers &) = delete;

  int threads() const { return threads_; }

  // Calls body(begin, end) on disjoint pieces that cover [0, count), each
  // at most `grain` long, on any of the threads and in any order; returns
  // when all are done. An exception thrown by a piece cancels the pieces
  // not yet started and is rethrown here.
  void for_each(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)> &body) const;

 private:
  int threads_;
  struct Arena;
  std::unique_ptr<Arena> arena_;
};

}  // namespace vaeng

#endif
