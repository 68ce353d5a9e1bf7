// SPDX-License-Identifier: Apache-2.0
// The transform listener of the package's nodes.
#ifndef VANTOREL_BASE_UTILS_NODES__TRANSFORM_LISTENER_HPP_
#define VANTOREL_BASE_UTILS_NODES__TRANSFORM_LISTENER_HPP_

#include <memory>

#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <rclcpp/rclcpp.hpp>
#include <tf2_ros/qos.hpp>

namespace vantorel_base_utils_nodes {

// A listener filling `buffer` from /tf and /tf_static that spins in a thread of its own, so
// transforms keep arriving while the node's executor is busy. Its subscriptions stay out of
// intra-process communication, which refuses /tf_static's transient-local durability: with the
// defaults, a node loaded into a container that turns it on would throw from its constructor.
inline std::shared_ptr<tf2_ros::TransformListener> makeTransformListener(tf2_ros::Buffer& buffer,
                                                                         rclcpp::Node* node) {
  auto options = tf2_ros::detail::get_default_transform_listener_sub_options();
  options.use_intra_process_comm = rclcpp::IntraProcessSetting::Disable;
  auto static_options = tf2_ros::detail::get_default_transform_listener_static_sub_options();
  static_options.use_intra_process_comm = rclcpp::IntraProcessSetting::Disable;
  return std::make_shared<tf2_ros::TransformListener>(
      buffer, node, true, tf2_ros::DynamicListenerQoS(), tf2_ros::StaticListenerQoS(), options,
      static_options);
}

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__TRANSFORM_LISTENER_HPP_
