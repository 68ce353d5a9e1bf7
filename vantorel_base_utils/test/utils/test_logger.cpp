// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <utility>

#include "support/console_capture.hpp"
#include "vantorel_base_utils/logger.hpp"

using vantorel_base_utils::Logger;

namespace {

// Records what the four operations print on each stream.
class LoggerTest : public ::testing::Test {
 protected:
  void TearDown() override { Logger::setLevel(Logger::INFO); }
  // Logs `message` at every level and returns what reached std::cout and std::cerr.
  std::pair<std::string, std::string> logAll(const std::string& message) {
    Logger::debug(message);
    Logger::info(message);
    Logger::warning(message);
    Logger::error(message);
    return {out_.take(), err_.take()};
  }

 private:
  vantorel_test::StreamCapture out_{std::cout};
  vantorel_test::StreamCapture err_{std::cerr};
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
