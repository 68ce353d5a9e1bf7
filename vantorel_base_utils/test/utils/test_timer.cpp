// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/console_capture.hpp"
#include "vantorel_base_utils/timer.hpp"

using vantorel_base_utils::Timer;

namespace {

using Stats = std::map<std::string, double>;

// The statistics table is process-wide: every test starts from an empty one.
class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { Timer::clearGlobalStats(); }
  void TearDown() override { Timer::clearGlobalStats(); }
};

template <typename Call>
std::string stdoutOf(Call call) {
  vantorel_test::StreamCapture out(std::cout);
  call();
  return out.take();
}

double timed(Timer& timer, int ms) {
  timer.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return timer.stop();
}

}  // namespace

TEST_F(TimerTest, MeasurementsAreFiledByNameAndSummarised) {
  Timer idle("idle", false);
  EXPECT_EQ(idle.stop(), 0.0);
  EXPECT_EQ(Timer::getGlobalStats(), (std::map<std::string, Stats>{{"_total", {{"total", 0.0}}}}));

  Timer first("shared", false);
  Timer second("shared", false);
  first.start();
  const double running = first.getElapsed();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GT(first.getElapsed(), running);
  const double a = first.stop();
  EXPECT_EQ(first.getElapsed(), a);
  EXPECT_EQ(first.stop(), a);  // idle again: nothing more is filed
  const double b = timed(second, 1);

  const auto stats = Timer::getGlobalStats();
  EXPECT_EQ(stats.at("shared"), (Stats{{"count", 2.0},
                                       {"total_time", a + b},
                                       {"avg_time", (a + b) / 2},
                                       {"percentage", (a + b) / (a + b) * 100}}));
  EXPECT_EQ(stats.at("_total"), (Stats{{"total", a + b}}));

  Timer named_total("_total", false);  // its statistics give way to the grand total
  const double t = timed(named_total, 1);
  EXPECT_EQ(Timer::getGlobalStats().at("_total"), (Stats{{"total", a + b + t}}));
}

TEST_F(TimerTest, ReportsPrintExactLinesAndLeaveTheCallersStreamAlone) {
  EXPECT_EQ(stdoutOf([] { Timer::printGlobalStats(); }), "No timer data available\n");

  Timer a("a", false);
  Timer longer("a_name_longer_than_the_25_columns", true);
  const double ta = timed(a, 30);
  std::cout << std::scientific << std::setprecision(2);
  const auto flags = std::cout.flags();
  double tl = 0.0;
  const std::string stop_line = stdoutOf([&] { tl = timed(longer, 10); });
  const std::string report = stdoutOf([] { Timer::printGlobalStats(); });
  EXPECT_EQ(std::cout.flags(), flags);
  EXPECT_EQ(std::cout.precision(), 2);
  std::cout.flags(std::ios::fmtflags{});
  std::cout.precision(6);

  char expected[512];
  std::snprintf(expected, sizeof(expected), "[a_name_longer_than_the_25_columns] %.4f s\n", tl);
  EXPECT_EQ(stop_line, expected);
  const std::string rule(60, '=');
  const double g = ta + tl;
  std::snprintf(expected, sizeof(expected),
                "%s\nGlobal Timer Statistics\n%s\n"
                "%-25s | n=%-4d | total=%-10.4fs | avg=%-10.4fs | %-6.2f%%\n"
                "%-25s | n=%-4d | total=%-10.4fs | avg=%-10.4fs | %-6.2f%%\n"
                "Total: %.4f s\n%s\n",
                rule.c_str(), rule.c_str(), "a", 1, ta, ta, ta / g * 100,
                "a_name_longer_than_the_25_columns", 1, tl, tl, tl / g * 100, g, rule.c_str());
  EXPECT_EQ(report, expected);
}

TEST_F(TimerTest, ConcurrentStopsAreAllFiled) {
  constexpr int kThreads = 8;
  constexpr int kStops = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      Timer own("thread" + std::to_string(t % 2), false);
      for (int i = 0; i < kStops; ++i) {
        own.start();
        own.stop();
        if (i % 500 == 0) {
          (void)Timer::getGlobalStats();
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  const auto stats = Timer::getGlobalStats();
  EXPECT_EQ(stats.at("thread0").at("count") + stats.at("thread1").at("count"), kThreads * kStops);
}
