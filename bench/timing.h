// Wall-clock medians, and the one line per measurement that the
// comparison script reads: "<row> <peer> <value>", the value in the row's
// unit (ns per point or pixel, seconds, or microseconds).
#ifndef BENCH_TIMING_H
#define BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>
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

// Medians of reps timed calls of each of two runs, the calls alternating,
// so that a machine whose speed drifts slows both alike. An empty b is
// skipped (its median is 0).
template <class RunA, class RunB>
std::pair<double, double> median_pair(int reps, RunA a, RunB b) {
  std::vector<double> ta, tb;
  for (int r = 0; r < reps; ++r) {
    ta.push_back(median_seconds(1, a));
    if (b) tb.push_back(median_seconds(1, b));
  }
  std::sort(ta.begin(), ta.end());
  std::sort(tb.begin(), tb.end());
  return {ta[ta.size() / 2], tb.empty() ? 0.0 : tb[tb.size() / 2]};
}

inline void report(const char *row, const char *peer, double value) {
  std::printf("%s %s %.6g\n", row, peer, value);
  std::fflush(stdout);
}

}  // namespace bench

#endif
