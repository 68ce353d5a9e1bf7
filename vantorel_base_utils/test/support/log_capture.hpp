// SPDX-License-Identifier: Apache-2.0
// Captures what the library logs through rclcpp/rcutils, for assertions on severity and text.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__LOG_CAPTURE_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__LOG_CAPTURE_HPP_

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <rcutils/logging.h>

namespace vantorel_test {

struct LogRecord {
  int severity;
  std::string logger;
  std::string text;
};

// While alive, every rcutils log message of any severity is recorded instead of printed.
class LogCapture {
 public:
  LogCapture() {
    // Already initialised is fine; gcc ignores a (void) cast on warn_unused_result.
    const rcutils_ret_t initialised = rcutils_logging_initialize();
    static_cast<void>(initialised);
    previous_handler_ = rcutils_logging_get_output_handler();
    previous_level_ = rcutils_logging_get_default_logger_level();
    rcutils_logging_set_default_logger_level(RCUTILS_LOG_SEVERITY_DEBUG);
    active() = this;
    rcutils_logging_set_output_handler(&LogCapture::handle);
  }
  ~LogCapture() {
    rcutils_logging_set_output_handler(previous_handler_);
    rcutils_logging_set_default_logger_level(previous_level_);
    active() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  // Number of records of the given severity whose text equals `text`.
  int count(int severity, const std::string& text) const {
    int n = 0;
    for (const auto& r : records()) {
      n += (r.severity == severity && r.text == text) ? 1 : 0;
    }
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  static LogCapture*& active() {
    static LogCapture* instance = nullptr;
    return instance;
  }

  static void handle(const rcutils_log_location_t*, int severity, const char* name,
                     rcutils_time_point_value_t, const char* format, va_list* args) {
    LogCapture* self = active();
    if (self == nullptr) {
      return;
    }
    va_list copy;
    va_copy(copy, *args);
    char buffer[4096];
    std::vsnprintf(buffer, sizeof(buffer), format, copy);
    va_end(copy);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->records_.push_back({severity, name ? name : "", buffer});
  }

  rcutils_logging_output_handler_t previous_handler_ = nullptr;
  int previous_level_ = RCUTILS_LOG_SEVERITY_INFO;
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__LOG_CAPTURE_HPP_
