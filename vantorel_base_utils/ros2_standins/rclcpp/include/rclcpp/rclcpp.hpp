// SPDX-License-Identifier: Apache-2.0
// Stand-in for rclcpp's umbrella header: logging only.
#ifndef RCLCPP__RCLCPP_HPP_
#define RCLCPP__RCLCPP_HPP_

#include "rclcpp/logger.hpp"
#include "rclcpp/logging.hpp"

#endif  // RCLCPP__RCLCPP_HPP_
