// SPDX-License-Identifier: Apache-2.0
// The ROS 2 surface the package compiles against, declaration by declaration. This file is
// compiled against whichever ROS 2 the build uses, the stand-ins in ros2_standins/ or a real
// distribution; the test command builds both, so a stand-in that offers something the real
// package lacks, or offers it with another signature, fails a build. Every header the
// stand-ins install is included here (test/CMakeLists.txt checks that at configure time).

#include <rosidl_runtime_c/message_type_support_struct.h>
#include <rosidl_runtime_c/service_type_support_struct.h>
#include <rosidl_typesupport_c/type_support_map.h>

#include <rosidl_typesupport_cpp/visibility_control.h>
#include <cstddef>
#include <rclcpp/logger.hpp>
#include <rclcpp/logging.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rosidl_typesupport_cpp/identifier.hpp>
#include <rosidl_typesupport_cpp/message_type_support_dispatch.hpp>
#include <rosidl_typesupport_cpp/service_type_support_dispatch.hpp>
#include <string>
#include <type_traits>

namespace {

template <typename A, typename B>
constexpr bool kSame = std::is_same<A, B>::value;

// rclcpp: named loggers and the printf-style logging macros.
static_assert(kSame<decltype(&rclcpp::get_logger), rclcpp::Logger (*)(const std::string&)>,
              "rclcpp::get_logger");
static_assert(kSame<decltype(&rclcpp::Logger::get_name), const char* (rclcpp::Logger::*)() const>,
              "rclcpp::Logger::get_name");
static_assert(kSame<decltype(&rclcpp::Logger::get_child),
                    rclcpp::Logger (rclcpp::Logger::*)(const std::string&)>,
              "rclcpp::Logger::get_child is not const in rclcpp");
static_assert(std::is_copy_constructible<rclcpp::Logger>::value &&
                  !std::is_default_constructible<rclcpp::Logger>::value,
              "rclcpp::Logger is copied, and made only by get_logger");

[[maybe_unused]] void logThroughEveryMacro(const rclcpp::Logger& logger) {
  RCLCPP_DEBUG(logger, "%d", 1);
  RCLCPP_INFO(logger, "%s", "text");
  RCLCPP_WARN(logger, "plain");
  RCLCPP_ERROR(logger, "%.1f", 1.0);
}

// rosidl_typesupport_cpp: the identifier of dispatching handles and the look-up functions
// that generated dispatching handles point to.
static_assert(kSame<decltype(rosidl_typesupport_cpp::typesupport_identifier), const char*>,
              "rosidl_typesupport_cpp::typesupport_identifier");
static_assert(kSame<decltype(&rosidl_typesupport_cpp::get_message_typesupport_handle_function),
                    const rosidl_message_type_support_t* (*)(const rosidl_message_type_support_t*,
                                                             const char*) noexcept>,
              "rosidl_typesupport_cpp::get_message_typesupport_handle_function");
static_assert(kSame<decltype(&rosidl_typesupport_cpp::get_service_typesupport_handle_function),
                    const rosidl_service_type_support_t* (*)(const rosidl_service_type_support_t*,
                                                             const char*) noexcept>,
              "rosidl_typesupport_cpp::get_service_typesupport_handle_function");
#if !defined(ROSIDL_TYPESUPPORT_CPP_PUBLIC) || !defined(ROSIDL_TYPESUPPORT_CPP_EXPORT) || \
    !defined(ROSIDL_TYPESUPPORT_CPP_IMPORT) || !defined(ROSIDL_TYPESUPPORT_CPP_LOCAL)
#error "rosidl_typesupport_cpp/visibility_control.h defines the four visibility macros"
#endif

// The map a dispatching handle's data points to: field types and order.
static_assert(kSame<decltype(type_support_map_t::size), const size_t> &&
                  kSame<decltype(type_support_map_t::package_name), const char*> &&
                  kSame<decltype(type_support_map_t::typesupport_identifier), const char* const*> &&
                  kSame<decltype(type_support_map_t::symbol_name), const char* const*> &&
                  kSame<decltype(type_support_map_t::data), void**>,
              "type_support_map_t field types");
static_assert(offsetof(type_support_map_t, size) < offsetof(type_support_map_t, package_name) &&
                  offsetof(type_support_map_t, package_name) <
                      offsetof(type_support_map_t, typesupport_identifier) &&
                  offsetof(type_support_map_t, typesupport_identifier) <
                      offsetof(type_support_map_t, symbol_name) &&
                  offsetof(type_support_map_t, symbol_name) < offsetof(type_support_map_t, data),
              "type_support_map_t field order");

}  // namespace
