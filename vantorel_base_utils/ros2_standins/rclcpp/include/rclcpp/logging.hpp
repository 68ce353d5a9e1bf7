// SPDX-License-Identifier: Apache-2.0
// Stand-in for rclcpp's logging macros: printf-style formats passed to rcutils logging,
// so rcutils_logging_set_output_handler sees every message exactly as with rclcpp.
#ifndef RCLCPP__LOGGING_HPP_
#define RCLCPP__LOGGING_HPP_

#include <type_traits>

#include <rcutils/logging_macros.h>

#include "rclcpp/logger.hpp"

#define RCLCPP_STANDIN_LOG_(rcutils_macro, logger, ...)                                       \
  do {                                                                                        \
    static_assert(::std::is_same<std::remove_cv_t<std::remove_reference_t<decltype(logger)>>, \
                                 ::rclcpp::Logger>::value,                                    \
                  "First argument to logging macros must be an rclcpp::Logger");              \
    const char* rclcpp_standin_name_ = (logger).get_name();                                   \
    if (rclcpp_standin_name_ != nullptr) {                                                    \
      rcutils_macro(rclcpp_standin_name_, __VA_ARGS__);                                       \
    }                                                                                         \
  } while (0)

#define RCLCPP_DEBUG(logger, ...) RCLCPP_STANDIN_LOG_(RCUTILS_LOG_DEBUG_NAMED, logger, __VA_ARGS__)
#define RCLCPP_INFO(logger, ...) RCLCPP_STANDIN_LOG_(RCUTILS_LOG_INFO_NAMED, logger, __VA_ARGS__)
#define RCLCPP_WARN(logger, ...) RCLCPP_STANDIN_LOG_(RCUTILS_LOG_WARN_NAMED, logger, __VA_ARGS__)
#define RCLCPP_ERROR(logger, ...) RCLCPP_STANDIN_LOG_(RCUTILS_LOG_ERROR_NAMED, logger, __VA_ARGS__)

#endif  // RCLCPP__LOGGING_HPP_
