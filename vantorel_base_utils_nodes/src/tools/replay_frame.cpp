// SPDX-License-Identifier: Apache-2.0
// Replays the frame tool's inputs of one frame into ROS 2, for the frame points node:
//   replay_frame [--frame-dir DIR] [--detections FILE] [--depth FILE] [--camera FILE]
//                [--camera-to-arm-base FILE] [--arm-base-to-map FILE]
//                [--camera-frame NAME] [--arm-base-frame arm_base_link] [--map-frame map]
//                [--rate HZ] [--count N] [--transforms on|off]
// Publishes the depth image on depth/image, its camera info on depth/camera_info and the
// detector result on detections, all three stamped with the time of publishing, `rate` times
// a second (default 2), `count` times (default 0: until stopped); and, unless `--transforms
// off`, camera -> arm base and arm base -> map on /tf_static. The inputs default to the
// files of the sample frame that vantorel_base_utils installs, laid out as the frame tool's
// --sample-dir reads them; a transform file is the JSON document {"translation": [x, y, z],
// "rotation": [w, x, y, z]} or a Transform or TransformStamped as `ros2 topic echo` prints
// it. Exits 0 after `count` frames, 1 on an input it cannot read (saying why), 2 on bad usage.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <vantorel_base_utils/camera_calibration.hpp>
#include <vantorel_base_utils/camera_model.hpp>
#include <vantorel_base_utils/depth_image_file.hpp>
#include <vantorel_base_utils/msg/detection_result.hpp>
#include <vantorel_base_utils/transforms.hpp>

#include "service_call.hpp"

namespace {

namespace fs = std::filesystem;
namespace vbu = vantorel_base_utils;

struct ReplayOptions {
  std::string detections;
  std::string depth;
  std::string camera;
  std::string camera_to_arm_base;
  std::string arm_base_to_map;
  std::string camera_frame;
  std::string arm_base_frame = "arm_base_link";
  std::string map_frame = "map";
  double rate = 2.0;
  long count = 0;
  bool transforms = true;
};

struct ReplayInputs {
  std::string detections_text;
  sensor_msgs::msg::Image depth;
  sensor_msgs::msg::CameraInfo camera_info;
  geometry_msgs::msg::Transform camera_to_arm_base;
  geometry_msgs::msg::Transform arm_base_to_map;
};

void useFrameDir(ReplayOptions& options, const fs::path& dir) {
  options.detections = (dir / "detections.json").string();
  options.depth = (dir / "depth.png").string();
  options.camera = (dir / "camera.yaml").string();
  options.camera_to_arm_base = (dir / "camera_to_arm_base.json").string();
  options.arm_base_to_map = (dir / "arm_base_to_map.json").string();
}

std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) {
    throw std::runtime_error(path + ": cannot be read");
  }
  return text.str();
}

sensor_msgs::msg::Image depthMessage(const cv::Mat& depth) {
  sensor_msgs::msg::Image image;
  image.height = static_cast<std::uint32_t>(depth.rows);
  image.width = static_cast<std::uint32_t>(depth.cols);
  image.encoding = depth.type() == CV_16UC1 ? "16UC1" : "32FC1";
  image.step = static_cast<std::uint32_t>(depth.cols * depth.elemSize());
  const cv::Mat packed = depth.isContinuous() ? depth : depth.clone();
  image.data.assign(packed.datastart, packed.dataend);
  return image;
}

ReplayInputs readInputs(const ReplayOptions& options) {
  const rclcpp::Logger logger = rclcpp::get_logger("replay_frame");
  ReplayInputs inputs;
  inputs.detections_text = readText(options.detections);
  inputs.camera_info = vbu::cameraInfoFromFile(options.camera, logger);
  inputs.depth = depthMessage(
      vbu::readDepthImage(options.depth, vbu::cameraModelFromCameraInfo(inputs.camera_info)));
  if (options.transforms) {
    inputs.camera_to_arm_base = vbu::readTransformFile(options.camera_to_arm_base);
    inputs.arm_base_to_map = vbu::readTransformFile(options.arm_base_to_map);
  }
  return inputs;
}

geometry_msgs::msg::TransformStamped stamped(const geometry_msgs::msg::Transform& transform,
                                             const std::string& parent, const std::string& child,
                                             const rclcpp::Time& now) {
  geometry_msgs::msg::TransformStamped message;
  message.header.stamp = now;
  message.header.frame_id = parent;
  message.child_frame_id = child;
  message.transform = transform;
  return message;
}

bool parseOptions(const std::vector<std::string>& args, ReplayOptions& options) {
  const auto pairs = vantorel_tools::optionPairs(args, 1);
  if (!pairs) {
    return false;
  }
  for (const auto& [option, value] : *pairs) {
    if (option == "--frame-dir") {
      useFrameDir(options, value);
    }
  }
  for (const auto& [option, value] : *pairs) {
    const auto number = vantorel_tools::number(value);
    if (option == "--frame-dir") {
      continue;
    } else if (option == "--detections") {
      options.detections = value;
    } else if (option == "--depth") {
      options.depth = value;
    } else if (option == "--camera") {
      options.camera = value;
    } else if (option == "--camera-to-arm-base") {
      options.camera_to_arm_base = value;
    } else if (option == "--arm-base-to-map") {
      options.arm_base_to_map = value;
    } else if (option == "--camera-frame") {
      options.camera_frame = value;
    } else if (option == "--arm-base-frame") {
      options.arm_base_frame = value;
    } else if (option == "--map-frame") {
      options.map_frame = value;
    } else if (option == "--rate" && number && *number > 0.0 && *number <= 1000.0) {
      options.rate = *number;
    } else if (option == "--count" && number && *number >= 0.0 && *number < 1e9) {
      options.count = static_cast<long>(*number);
    } else if (option == "--transforms" && (value == "on" || value == "off")) {
      options.transforms = value == "on";
    } else {
      return false;
    }
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: replay_frame [--frame-dir DIR] [--detections FILE] [--depth FILE] "
               "[--camera FILE] [--camera-to-arm-base FILE] [--arm-base-to-map FILE] "
               "[--camera-frame NAME] [--arm-base-frame NAME] [--map-frame NAME] [--rate HZ] "
               "[--count N] [--transforms on|off]\n");
  return 2;
}

int replay(const ReplayOptions& options, ReplayInputs inputs) {
  auto node = std::make_shared<rclcpp::Node>("replay_frame");
  const std::string camera_frame = !options.camera_frame.empty() ? options.camera_frame
                                   : !inputs.camera_info.header.frame_id.empty()
                                       ? inputs.camera_info.header.frame_id
                                       : "camera_optical_frame";
  inputs.depth.header.frame_id = camera_frame;
  inputs.camera_info.header.frame_id = camera_frame;
  const rclcpp::QoS qos = rclcpp::QoS(rclcpp::KeepLast(5)).reliable();
  auto image_pub = node->create_publisher<sensor_msgs::msg::Image>("depth/image", qos);
  auto info_pub = node->create_publisher<sensor_msgs::msg::CameraInfo>("depth/camera_info", qos);
  auto detections_pub =
      node->create_publisher<vantorel_base_utils::msg::DetectionResult>("detections", qos);
  tf2_ros::StaticTransformBroadcaster broadcaster(node);
  if (options.transforms) {
    const rclcpp::Time now = node->now();
    broadcaster.sendTransform(
        {stamped(inputs.camera_to_arm_base, options.arm_base_frame, camera_frame, now),
         stamped(inputs.arm_base_to_map, options.map_frame, options.arm_base_frame, now)});
  }
  rclcpp::WallRate rate(options.rate);
  for (long sent = 0; rclcpp::ok() && (options.count == 0 || sent < options.count); ++sent) {
    const rclcpp::Time now = node->now();
    auto image = std::make_unique<sensor_msgs::msg::Image>(inputs.depth);
    image->header.stamp = now;
    auto info = std::make_unique<sensor_msgs::msg::CameraInfo>(inputs.camera_info);
    info->header.stamp = now;
    auto detections = std::make_unique<vantorel_base_utils::msg::DetectionResult>();
    detections->header = image->header;
    detections->result_json = inputs.detections_text;
    image_pub->publish(std::move(image));
    info_pub->publish(std::move(info));
    detections_pub->publish(std::move(detections));
    rclcpp::spin_some(node);
    rate.sleep();
  }
  // Reliable delivery of the last frame needs the publishers alive a little longer.
  rclcpp::sleep_for(std::chrono::milliseconds(500));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = rclcpp::init_and_remove_ros_arguments(argc, argv);
  ReplayOptions options;
  int status = 0;
  try {
    useFrameDir(options,
                fs::path(ament_index_cpp::get_package_share_directory("vantorel_base_utils")) /
                    "sample_frame");
  } catch (const std::exception&) {
    // Not installed where the index finds it: every input must then be given.
  }
  if (!parseOptions(args, options)) {
    status = usage();
  } else {
    try {
      status = replay(options, readInputs(options));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "replay_frame: %s\n", e.what());
      status = 1;
    }
  }
  rclcpp::shutdown();
  return status;
}
