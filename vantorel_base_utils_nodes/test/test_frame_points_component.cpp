// SPDX-License-Identifier: Apache-2.0
// The frame points node as a component: loaded into rclcpp_components' component_container
// in a process of its own, with intra-process communication as a launch file would load it,
// fed by replay_frame from another.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ament_index_cpp/get_package_prefix.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "child_process.hpp"

namespace {

using namespace std::chrono_literals;
using sensor_msgs::msg::PointCloud2;

TEST(FramePointsComponent, LoadsIntoTheContainerWithItsParametersAndPublishes) {
  rclcpp::init(0, nullptr);
  vantorel_test::ChildProcess container({ament_index_cpp::get_package_prefix("rclcpp_components") +
                                         "/lib/rclcpp_components/component_container"});
  // As a launch file composing nodes for zero-copy hand-offs loads it; the text value of
  // output_frame is a valid ROS name, which rcl would take for an old-style remapping.
  vantorel_test::ChildProcess loader(
      {LOAD_COMPONENT, "vantorel_base_utils_nodes", "vantorel_base_utils_nodes::FramePointsNode",
       "-p", "output_frame:=arm_base", "-p", "classes:=0", "-e", "use_intra_process_comms:=true"});
  ASSERT_EQ(loader.wait(30s), 0) << "load_component failed";
  auto node = std::make_shared<rclcpp::Node>("component_test");
  PointCloud2::ConstSharedPtr cloud;
  auto subscription = node->create_subscription<PointCloud2>(
      "points", rclcpp::QoS(10).reliable(), [&](PointCloud2::ConstSharedPtr got) { cloud = got; });
  vantorel_test::ChildProcess replayer({REPLAY_FRAME, "--rate", "10"});
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!cloud && std::chrono::steady_clock::now() < deadline) {
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(cloud) << "no cloud from the loaded component";
  // The parameters reached the component: the arm base frame, and class 0 alone kept.
  EXPECT_EQ(cloud->header.frame_id, "arm_base_link");
  EXPECT_GT(cloud->width, 0U);
  const std::uint8_t* labels = cloud->data.data() + 12;  // class_id follows x, y, z
  for (std::size_t i = 0; i < cloud->width; ++i) {
    std::uint32_t class_id = 0;
    std::memcpy(&class_id, labels + i * cloud->point_step, sizeof(class_id));
    ASSERT_EQ(class_id, 0U) << "point " << i;
  }
  EXPECT_TRUE(container.running());
  rclcpp::shutdown();
}

}  // namespace
