// Wall-clock medians, and the one line per measurement that the
// comparison script reads: "<row> <peer> <value>", the value in the row's
// unit (ns per point or pixel, seconds, or microseconds).
#ifndef BENCH_TIMING_H
#define BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

// The median of reps timed calls of run, in seconds.
template <class Run>
double median_seconds(int reps, Run run) {
  std::vector<double> times;
  for (int r = 0; r < reps; ++r) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    times.push_back(took.count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

inline void report(const char *row, const char *peer, double value) {
  std::printf("%s %s %.6g\n", row, peer, value);
  std::fflush(stdout);
}

}  // namespace bench

#endif
