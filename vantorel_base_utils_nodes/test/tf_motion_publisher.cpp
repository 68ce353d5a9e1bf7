// SPDX-License-Identifier: Apache-2.0
// Publishes the transforms of tf_motion.hpp at kRate, as a robot's tf tree would from another
// process: `tf_motion_publisher <epoch in ns since 1970>`, the epoch marking a cycle's start.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rclcpp/rclcpp.hpp>

#include "tf_motion.hpp"

namespace {

using geometry_msgs::msg::TransformStamped;

TransformStamped transform(const rclcpp::Time& stamp, const char* child, double x, double y,
                           double z, double angle_about_z) {
  TransformStamped t;
  t.header.stamp = stamp;
  t.header.frame_id = tf_motion::kParent;
  t.child_frame_id = child;
  t.transform.translation.x = x;
  t.transform.translation.y = y;
  t.transform.translation.z = z;
  t.transform.rotation.z = std::sin(angle_about_z / 2.0);
  t.transform.rotation.w = std::cos(angle_about_z / 2.0);
  return t;
}

class MotionPublisher {
 public:
  MotionPublisher(const rclcpp::Node::SharedPtr& node, std::int64_t epoch_ns)
      : node_(node), epoch_ns_(epoch_ns), broadcaster_(node), static_broadcaster_(node) {
    using namespace tf_motion;
    static_broadcaster_.sendTransform(transform(rclcpp::Time(0, 0, RCL_ROS_TIME), kStatic, kStaticX,
                                                kStaticY, kStaticZ, kStaticAngle));
    timer_ =
        node->create_wall_timer(std::chrono::duration<double>(1.0 / kRate), [this] { publish(); });
  }

 private:
  double noise() { return noise_(random_); }

  void publish() {
    using namespace tf_motion;
    const rclcpp::Time now = node_->now();
    const double since_epoch = static_cast<double>(now.nanoseconds() - epoch_ns_) * 1e-9;
    const double s = since_epoch < 0.0 ? 0.0 : swing(std::fmod(since_epoch, kCycle));
    std::vector<TransformStamped> transforms{
        transform(now, kSettling, kRestX + kAmplitude * s + noise(),
                  kRestY + 0.5 * kAmplitude * s + noise(), kRestZ + noise(),
                  kRestAngle + kAngleAmplitude * s + noise()),
        transform(now, kWobbling, kRestX + kWobble * std::sin(2.0 * M_PI * since_epoch), kRestY,
                  kRestZ, kRestAngle)};
    if (since_epoch >= 0.0 && std::fmod(since_epoch, kStalePeriod) < kStaleOn) {
      transforms.push_back(transform(now, kStale, kRestX, kRestY, kRestZ, kRestAngle));
    }
    broadcaster_.sendTransform(transforms);
  }

  rclcpp::Node::SharedPtr node_;
  std::int64_t epoch_ns_;
  tf2_ros::TransformBroadcaster broadcaster_;
  tf2_ros::StaticTransformBroadcaster static_broadcaster_;
  rclcpp::TimerBase::SharedPtr timer_;
  std::mt19937 random_{42};
  std::uniform_real_distribution<double> noise_{-tf_motion::kNoise, tf_motion::kNoise};
};

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const std::int64_t epoch_ns = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 0;
  auto node = std::make_shared<rclcpp::Node>("tf_motion_publisher");
  MotionPublisher publisher(node, epoch_ns);
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}
