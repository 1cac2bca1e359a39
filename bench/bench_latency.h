// Latency counters shared by the benchmarks that time single round trips.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

// The median of `us` (0 when empty).
inline double benchMedian(std::vector<double> us) {
  if (us.empty()) return 0;
  std::nth_element(us.begin(), us.begin() + us.size() / 2, us.end());
  return us[us.size() / 2];
}

// Sorts `us` and sets the counters <prefix>median_us and <prefix>p99_us
// (nothing when empty).
inline void benchReportLatencies(benchmark::State &state, std::vector<double> &us,
                                 const std::string &prefix = "") {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters[prefix + "median_us"] = us[us.size() / 2];
  state.counters[prefix + "p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}
