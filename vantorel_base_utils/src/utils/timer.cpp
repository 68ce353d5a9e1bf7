// SPDX-License-Identifier: Apache-2.0
// Named wall-clock timers and the process-wide statistics table they file into.
#include "vantorel_base_utils/timer.hpp"

#include <iomanip>
#include <iostream>
#include <locale>
#include <numeric>
#include <sstream>

namespace vantorel_base_utils {

std::map<std::string, std::vector<double>> Timer::timers_;
std::mutex Timer::timers_mutex_;

namespace {

using Table = std::map<std::string, std::vector<double>>;

double secondsBetween(std::chrono::system_clock::time_point from,
                      std::chrono::system_clock::time_point to) {
  const auto count = std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
  return static_cast<double>(count) / 1e9;
}

double sumOf(const std::vector<double>& durations) {
  return std::accumulate(durations.begin(), durations.end(), 0.0);
}

double grandTotal(const Table& table) {
  double total = 0.0;
  for (const auto& entry : table) {
    total += sumOf(entry.second);
  }
  return total;
}

double percentageOf(double total, double grand_total) {
  return grand_total > 0.0 ? total / grand_total * 100.0 : 0.0;
}

// Reports are formatted on a private stream and written in one piece, so the caller's
// std::cout keeps its own flags, precision and fill.
std::ostringstream reportStream() {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed;
  return out;
}

void writeToStdout(const std::ostringstream& text) {
  std::cout << text.str() << std::flush;
}

void formatStatsLine(std::ostringstream& out, const std::string& name,
                     const std::vector<double>& durations, double grand_total) {
  const double total = sumOf(durations);
  const double average = total / static_cast<double>(durations.size());
  out << std::left << std::setw(25) << name << " | n=" << std::setw(4) << durations.size()
      << " | total=" << std::setprecision(4) << std::setw(10) << total << "s"
      << " | avg=" << std::setw(10) << average << "s"
      << " | " << std::setprecision(2) << std::setw(6) << percentageOf(total, grand_total) << "%\n";
}

void formatReport(std::ostringstream& out, const Table& table) {
  if (table.empty()) {
    out << "No timer data available\n";
    return;
  }
  const double grand_total = grandTotal(table);
  const std::string rule(60, '=');
  out << rule << "\n"
      << "Global Timer Statistics\n"
      << rule << "\n";
  for (const auto& entry : table) {
    formatStatsLine(out, entry.first, entry.second, grand_total);
  }
  out << "Total: " << std::setprecision(4) << grand_total << " s\n" << rule << "\n";
}

}  // namespace

Timer::Timer(const std::string& name, bool print_on_stop)
    : name_(name),
      print_on_stop_(print_on_stop),
      start_time_(),
      end_time_(),
      elapsed_(0.0),
      running_(false) {}

void Timer::start() {
  start_time_ = Clock::now();
  running_ = true;
}

double Timer::stop() {
  if (!running_) {
    return elapsed_;
  }
  end_time_ = Clock::now();
  running_ = false;
  elapsed_ = secondsBetween(start_time_, end_time_);
  {
    std::lock_guard<std::mutex> lock(timers_mutex_);
    timers_[name_].push_back(elapsed_);
  }
  if (print_on_stop_) {
    std::ostringstream out = reportStream();
    out << "[" << name_ << "] " << std::setprecision(4) << elapsed_ << " s\n";
    writeToStdout(out);
  }
  return elapsed_;
}

double Timer::getElapsed() const {
  return running_ ? secondsBetween(start_time_, Clock::now()) : elapsed_;
}

void Timer::printGlobalStats() {
  std::ostringstream out = reportStream();
  {
    std::lock_guard<std::mutex> lock(timers_mutex_);
    formatReport(out, timers_);
  }
  writeToStdout(out);
}

std::map<std::string, std::map<std::string, double>> Timer::getGlobalStats() {
  std::lock_guard<std::mutex> lock(timers_mutex_);
  const double grand_total = grandTotal(timers_);
  std::map<std::string, std::map<std::string, double>> stats;
  for (const auto& entry : timers_) {
    const double count = static_cast<double>(entry.second.size());
    const double total = sumOf(entry.second);
    stats[entry.first] = {{"count", count},
                          {"total_time", total},
                          {"avg_time", total / count},
                          {"percentage", percentageOf(total, grand_total)}};
  }
  stats["_total"] = {{"total", grand_total}};
  return stats;
}

void Timer::clearGlobalStats() {
  std::lock_guard<std::mutex> lock(timers_mutex_);
  timers_.clear();
}

}  // namespace vantorel_base_utils
