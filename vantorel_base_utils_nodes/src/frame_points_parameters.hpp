// SPDX-License-Identifier: Apache-2.0
// The frame points node's parameters: declared, read once and checked.
#ifndef VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_PARAMETERS_HPP_
#define VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_PARAMETERS_HPP_

#include <cstddef>
#include <string>

#include <rclcpp/node.hpp>
#include <vantorel_base_utils/detection_points.hpp>

namespace vantorel_base_utils_nodes {

struct FramePointsSettings {
  vantorel_base_utils::DetectionPointsOptions road;
  std::string arm_base_frame;
  std::string map_frame;
  double tf_timeout = 0.1;
  std::size_t queue_size = 10;
  bool approximate_sync = false;
  bool publish_organized = false;
};

// Declares the node's parameters (read-only) and reads them. Throws std::invalid_argument
// naming the parameter, its rule and the value given when one is out of range.
FramePointsSettings readFramePointsSettings(rclcpp::Node& node);

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_PARAMETERS_HPP_
