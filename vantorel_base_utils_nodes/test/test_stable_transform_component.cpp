// SPDX-License-Identifier: Apache-2.0
// The server as a component: loaded into rclcpp_components' component_container, in a process
// of its own, through the container's load_node service, as a launch file would load it (with
// intra-process communication); by the package's load_component program, and asked by its
// get_stable_transform program.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <ament_index_cpp/get_package_prefix.hpp>
#include <composition_interfaces/srv/load_node.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rclcpp/rclcpp.hpp>

#include "child_process.hpp"

namespace {

using namespace std::chrono_literals;
using composition_interfaces::srv::LoadNode;

class StableTransformComponentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rclcpp::init(0, nullptr); }
  static void TearDownTestSuite() { rclcpp::shutdown(); }

  void SetUp() override {
    container_ = std::make_unique<vantorel_test::ChildProcess>(
        std::vector<std::string>{ament_index_cpp::get_package_prefix("rclcpp_components") +
                                 "/lib/rclcpp_components/component_container"});
    node_ = std::make_shared<rclcpp::Node>("component_test");
    load_node_ = node_->create_client<LoadNode>("/ComponentManager/_container/load_node");
    ASSERT_TRUE(load_node_->wait_for_service(10s));
  }

  template <typename Service>
  std::shared_ptr<typename Service::Response> call(
      const typename rclcpp::Client<Service>::SharedPtr& client,
      const typename Service::Request& request) {
    auto future = client->async_send_request(std::make_shared<typename Service::Request>(request));
    if (rclcpp::spin_until_future_complete(node_, future, 10s) !=
        rclcpp::FutureReturnCode::SUCCESS) {
      ADD_FAILURE() << "no answer from " << client->get_service_name();
      return std::make_shared<typename Service::Response>();
    }
    return future.get();
  }

  std::shared_ptr<LoadNode::Response> load(const std::string& ns,
                                           const rclcpp::Parameter& parameter) {
    LoadNode::Request request;
    request.package_name = "vantorel_base_utils_nodes";
    request.plugin_name = "vantorel_base_utils_nodes::StableTransformServer";
    request.node_namespace = ns;
    request.parameters.push_back(parameter.to_parameter_msg());
    return call<LoadNode>(load_node_, request);
  }

  std::unique_ptr<vantorel_test::ChildProcess> container_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<LoadNode>::SharedPtr load_node_;
};

TEST_F(StableTransformComponentTest, LoadsIntoTheContainerAndServesInItsNamespace) {
  geometry_msgs::msg::TransformStamped mount;
  mount.header.frame_id = "base_link";
  mount.child_frame_id = "camera_link";
  mount.transform.translation.z = 0.25;
  tf2_ros::StaticTransformBroadcaster broadcaster(node_);
  broadcaster.sendTransform(mount);

  vantorel_test::ChildProcess loader({LOAD_COMPONENT, "vantorel_base_utils_nodes",
                                      "vantorel_base_utils_nodes::StableTransformServer",
                                      "--namespace", "/arm", "-p", "sample_rate_hz:=50", "-e",
                                      "use_intra_process_comms:=true"});
  ASSERT_EQ(loader.wait(20s), 0) << "load_component failed";
  // Exits 0 only for a STABLE answer.
  vantorel_test::ChildProcess asker({GET_STABLE_TRANSFORM, "base_link", "camera_link", "--timeout",
                                     "5", "--service", "/arm/get_stable_transform"});
  EXPECT_EQ(asker.wait(20s), 0) << "get_stable_transform got no stable answer";
}

TEST_F(StableTransformComponentTest, AContainerRefusesTheComponentWithABadParameterAndGoesOn) {
  const auto refused = load("/bad", rclcpp::Parameter("default_min_stable_duration", -1.0));
  EXPECT_FALSE(refused->success);
  EXPECT_NE(refused->error_message.find("default_min_stable_duration"), std::string::npos)
      << refused->error_message;
  EXPECT_TRUE(container_->running());
  EXPECT_TRUE(load("/good", rclcpp::Parameter("sample_rate_hz", 10.0))->success);
}

}  // namespace
