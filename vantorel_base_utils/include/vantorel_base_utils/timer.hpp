// SPDX-License-Identifier: Apache-2.0
// Named wall-clock stopwatch whose completed measurements are also filed, by name, in a
// process-wide statistics table.
#ifndef VANTOREL_BASE_UTILS__TIMER_HPP_
#define VANTOREL_BASE_UTILS__TIMER_HPP_

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

class VANTOREL_BASE_UTILS_PUBLIC Timer {
 public:
  // Does not start the timer.
  explicit Timer(const std::string& name, bool print_on_stop = false);

  // Starts, or restarts, a measurement.
  void start();
  // Completes the running measurement, files it under the timer's name and returns its
  // duration in seconds. When idle, returns the last duration (0.0 if none) and files nothing.
  double stop();
  // Seconds since start while running, otherwise the last completed duration.
  double getElapsed() const;

  // Report of every name to std::cout, or "No timer data available".
  static void printGlobalStats();
  // Per name "count", "total_time", "avg_time" and "percentage"; plus "_total" with "total".
  static std::map<std::string, std::map<std::string, double>> getGlobalStats();
  static void clearGlobalStats();

 private:
  // The system clock, not steady_clock: a timer measures wall-clock time, clock adjustments
  // included, so that its figures agree with time stamps taken from the same clock.
  using Clock = std::chrono::system_clock;

  std::string name_;
  bool print_on_stop_;
  Clock::time_point start_time_;
  Clock::time_point end_time_;
  double elapsed_;
  bool running_;

  // Durations in seconds per name, in order of completion; guarded by timers_mutex_.
  static std::map<std::string, std::vector<double>> timers_;
  static std::mutex timers_mutex_;
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__TIMER_HPP_
