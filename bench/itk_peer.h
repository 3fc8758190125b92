// The ITK peer, when ITK is installed: for each row of the table that ITK
// can do, one run of that row's whole work, on one thread, or at ITK's
// default thread count for the rows named "..._default".
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
  // ITK's default thread count, which the "_default" rows use.
  int default_threads() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bench

#endif
