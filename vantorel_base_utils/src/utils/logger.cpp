// SPDX-License-Identifier: Apache-2.0
// The console logger and its process-wide threshold.
#include "vantorel_base_utils/logger.hpp"

#include <iostream>
#include <ostream>

namespace vantorel_base_utils {

std::atomic<int> Logger::level_{Logger::INFO};

namespace {

// One insertion per line, its newline included, keeps lines of concurrent callers from
// interleaving: a newline inserted on its own can land after another caller's text.
void printLine(std::ostream& stream, Logger::Level level, const std::string& message) {
  stream << ("[" + Logger::levelToString(level) + "] " + message + "\n") << std::flush;
}

bool passesThreshold(Logger::Level level, const std::atomic<int>& threshold) {
  return static_cast<int>(level) >= threshold.load(std::memory_order_relaxed);
}

}  // namespace

void Logger::setLevel(Level level) {
  level_.store(static_cast<int>(level), std::memory_order_relaxed);
}

std::string Logger::levelToString(Level level) {
  switch (level) {
    case DEBUG:
      return "DEBUG";
    case INFO:
      return "INFO";
    case WARNING:
      return "WARNING";
    case ERROR:
      return "ERROR";
  }
  return "UNKNOWN";
}

void Logger::debug(const std::string& message) {
  if (passesThreshold(DEBUG, level_)) {
    printLine(std::cout, DEBUG, message);
  }
}

void Logger::info(const std::string& message) {
  if (passesThreshold(INFO, level_)) {
    printLine(std::cout, INFO, message);
  }
}

void Logger::warning(const std::string& message) {
  if (passesThreshold(WARNING, level_)) {
    printLine(std::cerr, WARNING, message);
  }
}

void Logger::error(const std::string& message) {
  printLine(std::cerr, ERROR, message);
}

}  // namespace vantorel_base_utils
