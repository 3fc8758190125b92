// The ITK peer, on one thread, when ITK is installed: for each row of the
// table that ITK can do, one run of that row's whole work.
#ifndef BENCH_ITK_PEER_H
#define BENCH_ITK_PEER_H

#include <functional>
#include <memory>
#include <string>

#include "bench_data.h"

namespace bench {

class ItkPeer {
 public:
  explicit ItkPeer(const BenchData &data);
  ~ItkPeer();
  ItkPeer(const ItkPeer &) = delete;
  ItkPeer &operator=(const ItkPeer &) = delete;

  // The row's work, or an empty function where ITK has no counterpart.
  std::function<void()> row(const std::string &name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bench

#endif
