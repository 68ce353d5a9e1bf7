#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <utility>

#include "vantorel_base_utils/vantorel_base_utils.hpp"

using vantorel_base_utils::Logger;

namespace {

// Records what the four operations print on each stream.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_out_ = std::cout.rdbuf(out_.rdbuf());
    previous_err_ = std::cerr.rdbuf(err_.rdbuf());
  }
  void TearDown() override {
    std::cout.rdbuf(previous_out_);
    std::cerr.rdbuf(previous_err_);
    Logger::setLevel(Logger::INFO);
  }
  void logAll(const std::string& message) {
    Logger::debug(message);
    Logger::info(message);
    Logger::warning(message);
    Logger::error(message);
  }
  std::string takeOut() { return std::exchange(out_, std::ostringstream()).str(); }
  std::string takeErr() { return std::exchange(err_, std::ostringstream()).str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* previous_out_ = nullptr;
  std::streambuf* previous_err_ = nullptr;
};

}  // namespace

TEST_F(LoggerTest, InitialThresholdIsInfo) {
  logAll("hello");
  EXPECT_EQ(takeOut(), "[INFO] hello\n");
  EXPECT_EQ(takeErr(), "[WARNING] hello\n[ERROR] hello\n");
  Logger::info("");
  Logger::error("two\nlines");
  EXPECT_EQ(takeOut(), "[INFO] \n");
  EXPECT_EQ(takeErr(), "[ERROR] two\nlines\n");
}

TEST_F(LoggerTest, ThresholdFiltersAllButError) {
  Logger::setLevel(Logger::ERROR);
  logAll("m");
  EXPECT_EQ(takeOut(), "");
  EXPECT_EQ(takeErr(), "[ERROR] m\n");

  Logger::setLevel(Logger::DEBUG);
  logAll("m");
  EXPECT_EQ(takeOut(), "[DEBUG] m\n[INFO] m\n");
  EXPECT_EQ(takeErr(), "[WARNING] m\n[ERROR] m\n");

  Logger::setLevel(static_cast<Logger::Level>(7));
  logAll("m");
  EXPECT_EQ(takeOut(), "");
  EXPECT_EQ(takeErr(), "[ERROR] m\n");

  Logger::setLevel(static_cast<Logger::Level>(-1));  // below every level: all pass
  logAll("m");
  EXPECT_EQ(takeOut(), "[DEBUG] m\n[INFO] m\n");
}

TEST(LoggerLevelText, NamesAndUnknown) {
  EXPECT_EQ(Logger::levelToString(Logger::DEBUG), "DEBUG");
  EXPECT_EQ(Logger::levelToString(Logger::WARNING), "WARNING");
  EXPECT_EQ(Logger::levelToString(static_cast<Logger::Level>(7)), "UNKNOWN");
  EXPECT_EQ(Logger::levelToString(static_cast<Logger::Level>(-1)), "UNKNOWN");
}
