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
  // Logs `message` at every level and returns what reached std::cout and std::cerr.
  std::pair<std::string, std::string> logAll(const std::string& message) {
    Logger::debug(message);
    Logger::info(message);
    Logger::warning(message);
    Logger::error(message);
    return {std::exchange(out_, std::ostringstream()).str(),
            std::exchange(err_, std::ostringstream()).str()};
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* previous_out_ = nullptr;
  std::streambuf* previous_err_ = nullptr;
};

using Printed = std::pair<std::string, std::string>;

}  // namespace

TEST_F(LoggerTest, ThresholdDecidesWhatPrintsAndErrorAlwaysPrints) {
  EXPECT_EQ(logAll("hi"), Printed("[INFO] hi\n", "[WARNING] hi\n[ERROR] hi\n"));
  EXPECT_EQ(logAll(""), Printed("[INFO] \n", "[WARNING] \n[ERROR] \n"));

  Logger::setLevel(Logger::ERROR);
  EXPECT_EQ(logAll("a\nb"), Printed("", "[ERROR] a\nb\n"));
  Logger::setLevel(Logger::DEBUG);
  EXPECT_EQ(logAll("m"), Printed("[DEBUG] m\n[INFO] m\n", "[WARNING] m\n[ERROR] m\n"));
  Logger::setLevel(static_cast<Logger::Level>(7));  // outside the enumeration
  EXPECT_EQ(logAll("m"), Printed("", "[ERROR] m\n"));
  Logger::setLevel(static_cast<Logger::Level>(-1));
  EXPECT_EQ(logAll("m"), Printed("[DEBUG] m\n[INFO] m\n", "[WARNING] m\n[ERROR] m\n"));

  EXPECT_EQ(Logger::levelToString(static_cast<Logger::Level>(7)), "UNKNOWN");
}
