// SPDX-License-Identifier: Apache-2.0
// What the benchmarks measure with: the wall clock processes share, a process's CPU time,
// and percentiles of a sample.
#ifndef VANTOREL_BASE_UTILS_NODES_BENCH__BENCH_MEASURES_HPP_
#define VANTOREL_BASE_UTILS_NODES_BENCH__BENCH_MEASURES_HPP_

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace vantorel_bench {

inline double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// CPU seconds (user + system) process `pid` has used so far.
inline double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0.0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) {
      ticks += std::stod(field);
    }
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The value below which a share `p` (0 to 1) of `values` lies.
inline double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[index];
}

}  // namespace vantorel_bench

#endif  // VANTOREL_BASE_UTILS_NODES_BENCH__BENCH_MEASURES_HPP_
