// SPDX-License-Identifier: Apache-2.0
// The stable-transform server as a program of its own: remapping, namespaces and parameters
// come from the command line (`--ros-args -r __ns:=/arm -p sample_rate_hz:=50.0`).
#include <exception>
#include <memory>

#include <rclcpp/rclcpp.hpp>

#include "vantorel_base_utils_nodes/stable_transform_server.hpp"

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  int status = 0;
  try {
    rclcpp::spin(std::make_shared<vantorel_base_utils_nodes::StableTransformServer>());
  } catch (const std::exception& e) {
    RCLCPP_FATAL(rclcpp::get_logger("stable_transform_server"), "%s", e.what());
    status = 1;
  }
  rclcpp::shutdown();
  return status;
}
