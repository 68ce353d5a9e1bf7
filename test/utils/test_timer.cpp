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

#include "vantorel_base_utils/vantorel_base_utils.hpp"

using vantorel_base_utils::Timer;

namespace {

void sleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The statistics table is process-wide: every test starts from an empty one.
class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { Timer::clearGlobalStats(); }
  void TearDown() override { Timer::clearGlobalStats(); }

  template <typename Call>
  static std::string stdoutOf(Call call) {
    std::ostringstream captured;
    std::streambuf* previous = std::cout.rdbuf(captured.rdbuf());
    call();
    std::cout.rdbuf(previous);
    return captured.str();
  }
};

std::string statsLine(const char* name, std::size_t n, double total, double share) {
  char line[200];
  std::snprintf(line, sizeof(line), "%-25s | n=%-4zu | total=%-10.4fs | avg=%-10.4fs | %-6.2f%%\n",
                name, n, total, total / static_cast<double>(n), share);
  return line;
}

}  // namespace

TEST_F(TimerTest, StopFilesMeasurementsUnderTheName) {
  Timer idle("idle", false);
  EXPECT_EQ(idle.stop(), 0.0);
  EXPECT_EQ(Timer::getGlobalStats().size(), 1u);  // only "_total"

  Timer first("shared", false);
  Timer second("shared", false);
  first.start();
  sleepMs(5);
  const double running = first.getElapsed();
  sleepMs(5);
  EXPECT_GT(first.getElapsed(), running);
  const double a = first.stop();
  EXPECT_EQ(first.getElapsed(), a);
  EXPECT_EQ(first.stop(), a);  // idle again: nothing more is filed
  second.start();
  const double b = second.stop();

  const auto stats = Timer::getGlobalStats();
  EXPECT_EQ(stats.at("shared").at("count"), 2.0);
  EXPECT_DOUBLE_EQ(stats.at("shared").at("total_time"), a + b);
  EXPECT_DOUBLE_EQ(stats.at("shared").at("avg_time"), (a + b) / 2);
  EXPECT_DOUBLE_EQ(stats.at("shared").at("percentage"), 100.0);
  EXPECT_DOUBLE_EQ(stats.at("_total").at("total"), a + b);
  EXPECT_EQ(stats.at("shared").size(), 4u);
  EXPECT_GE(a, 0.01);
}

TEST_F(TimerTest, GlobalStatsOnEmptyTableAndTimerNamedTotal) {
  const auto empty = Timer::getGlobalStats();
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty.at("_total"), (std::map<std::string, double>{{"total", 0.0}}));

  Timer total("_total", false);
  total.start();
  const double t = total.stop();
  const auto stats = Timer::getGlobalStats();
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats.at("_total"), (std::map<std::string, double>{{"total", t}}));
}

TEST_F(TimerTest, PrintsTheReportWithoutChangingTheCallersStream) {
  EXPECT_EQ(stdoutOf([] { Timer::printGlobalStats(); }), "No timer data available\n");

  Timer a("a", false);
  Timer longer("a_name_longer_than_the_25_columns", false);
  a.start();
  sleepMs(30);
  const double ta = a.stop();
  longer.start();
  sleepMs(10);
  const double tl = longer.stop();

  std::cout << std::scientific << std::setprecision(2) << std::right;
  const auto flags = std::cout.flags();
  const std::string report = stdoutOf([] { Timer::printGlobalStats(); });
  EXPECT_EQ(std::cout.flags(), flags);
  EXPECT_EQ(std::cout.precision(), 2);
  std::cout.flags(std::ios::fmtflags{});
  std::cout.precision(6);

  const std::string rule(60, '=');
  const double g = ta + tl;
  char total_line[64];
  std::snprintf(total_line, sizeof(total_line), "Total: %.4f s\n", g);
  EXPECT_EQ(report, rule + "\nGlobal Timer Statistics\n" + rule + "\n" +
                        statsLine("a", 1, ta, ta / g * 100) +
                        statsLine("a_name_longer_than_the_25_columns", 1, tl, tl / g * 100) +
                        total_line + rule + "\n");

  Timer::clearGlobalStats();
  EXPECT_EQ(stdoutOf([] { Timer::printGlobalStats(); }), "No timer data available\n");
}

TEST_F(TimerTest, PrintOnStopLine) {
  Timer timer("step", true);
  timer.start();
  double elapsed = 0.0;
  const std::string line = stdoutOf([&] { elapsed = timer.stop(); });
  char expected[64];
  std::snprintf(expected, sizeof(expected), "[step] %.4f s\n", elapsed);
  EXPECT_EQ(line, expected);
  EXPECT_EQ(std::cout.precision(), 6);
  EXPECT_FALSE(std::cout.flags() & std::ios::fixed);
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
