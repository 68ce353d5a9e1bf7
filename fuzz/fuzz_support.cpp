#include "fuzz_support.hpp"

#include <cstdarg>
#include <cstdio>

#include <rcutils/logging.h>

namespace vantorel_fuzz {

namespace {

void formatAndDrop(const rcutils_log_location_t*, int, const char*, rcutils_time_point_value_t,
                   const char* format, va_list* args) {
  char buffer[1024];
  va_list copy;
  va_copy(copy, *args);
  std::vsnprintf(buffer, sizeof(buffer), format, copy);
  va_end(copy);
}

}  // namespace

const rclcpp::Logger& quietLogger() {
  static const rclcpp::Logger logger = [] {
    const rcutils_ret_t initialized = rcutils_logging_initialize();
    (void)initialized;
    rcutils_logging_set_default_logger_level(RCUTILS_LOG_SEVERITY_DEBUG);
    rcutils_logging_set_output_handler(&formatAndDrop);
    return rclcpp::get_logger("fuzz");
  }();
  return logger;
}

}  // namespace vantorel_fuzz
