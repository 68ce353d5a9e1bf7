// SPDX-License-Identifier: Apache-2.0
// Console logger with one process-wide threshold. It writes straight to std::cout and
// std::cerr and is independent of ROS logging.
#ifndef VANTOREL_BASE_UTILS__LOGGER_HPP_
#define VANTOREL_BASE_UTILS__LOGGER_HPP_

#include <atomic>
#include <string>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

class VANTOREL_BASE_UTILS_PUBLIC Logger {
 public:
  // The fixed underlying type makes every int a valid Level, so out-of-range thresholds
  // such as Level(7) or Level(-1) are well defined. The capitalised names break this
  // package's naming (and ERROR clashes with a Windows macro); each is the name
  // levelToString gives and every line prints, so code and console read alike.
  enum Level : int { DEBUG = 0, INFO = 1, WARNING = 2, ERROR = 3 };

  Logger() = delete;

  // Applies to every later call in the process, from any thread. Unchecked.
  static void setLevel(Level level);
  // "DEBUG", "INFO", "WARNING", "ERROR" or "UNKNOWN".
  static std::string levelToString(Level level);

  // One line "[LEVEL] message" each; debug and info go to std::cout, warning and error to
  // std::cerr. error prints whatever the threshold.
  static void debug(const std::string& message);
  static void info(const std::string& message);
  static void warning(const std::string& message);
  static void error(const std::string& message);

 private:
  static std::atomic<int> level_;
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__LOGGER_HPP_
