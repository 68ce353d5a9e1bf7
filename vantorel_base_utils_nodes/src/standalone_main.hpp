// SPDX-License-Identifier: Apache-2.0
// The main() of a component run as a program of its own: remapping, namespaces and
// parameters come from the command line, and a bad parameter ends the program with the reason
// instead of an uncaught exception.
#ifndef VANTOREL_BASE_UTILS_NODES__STANDALONE_MAIN_HPP_
#define VANTOREL_BASE_UTILS_NODES__STANDALONE_MAIN_HPP_

#include <exception>
#include <memory>

#include <rclcpp/rclcpp.hpp>

namespace vantorel_base_utils_nodes {

template <typename NodeT>
int runStandalone(int argc, char** argv, const char* name) {
  rclcpp::init(argc, argv);
  int status = 0;
  try {
    rclcpp::spin(std::make_shared<NodeT>());
  } catch (const std::exception& e) {
    RCLCPP_FATAL(rclcpp::get_logger(name), "%s", e.what());
    status = 1;
  }
  rclcpp::shutdown();
  return status;
}

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__STANDALONE_MAIN_HPP_
