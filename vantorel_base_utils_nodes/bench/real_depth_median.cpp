// SPDX-License-Identifier: Apache-2.0
// One real frame through the node: vantorel_base_utils' data/real_depth frame (a 16-bit
// Kinect depth image, 5000 units per metre, with its camera file, a hand-made detection and
// the identity transform) replayed by replay_frame into the frame_points_node program with
// depth_scale 0.0002, each in a process of its own. Prints the median depth (z, in the camera
// frame the identity transforms keep) of the cloud received, against the median raw depth of
// the detection's pixels divided by 5000, read from the PNG here.
//
//   real_depth_median DATA_DIR       (DATA_DIR: vantorel_base_utils/data/real_depth)
// Give it a ROS_DOMAIN_ID of its own.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/point_cloud2_iterator.hpp>
#include <vantorel_base_utils/camera_calibration.hpp>
#include <vantorel_base_utils/depth_image_file.hpp>
#include <vantorel_base_utils/yolo_mask_parser.hpp>

#include "bench_measures.hpp"
#include "child_process.hpp"

namespace {

using namespace std::chrono_literals;
namespace vbu = vantorel_base_utils;
using sensor_msgs::msg::PointCloud2;

constexpr double kUnitsPerMetre = 5000.0;

std::string readText(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  std::string text;
  char buffer[65536];
  for (std::size_t n = 0; file && (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) {
    text.append(buffer, n);
  }
  if (file) {
    std::fclose(file);
  }
  return text;
}

// The median raw depth over the detection's pixels that have depth, in metres.
double rawMedianMetres(const std::string& dir) {
  const rclcpp::Logger logger = rclcpp::get_logger("real_depth_median");
  const auto info = vbu::cameraInfoFromFile(dir + "/camera_info.yaml", logger);
  const cv::Mat depth =
      vbu::readDepthImage(dir + "/tum_1_depth.png", vbu::cameraModelFromCameraInfo(info));
  const auto parsed =
      vbu::yolo_mask_parser::parseYoloResult(readText(dir + "/detections.json"), logger);
  std::vector<double> raw;
  for (const auto& [cls, instances] :
       vbu::yolo_mask_parser::buildInstancePixelMap(parsed, logger)) {
    for (const auto& pixels : instances) {
      for (const auto& [u, v] : pixels) {
        const std::uint16_t value = depth.at<std::uint16_t>(v, u);
        if (value != 0) {
          raw.push_back(value);
        }
      }
    }
  }
  std::printf("detection pixels with depth: %zu\n", raw.size());
  return vantorel_bench::percentile(raw, 0.5) / kUnitsPerMetre;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: real_depth_median DATA_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("real_depth_median");
  PointCloud2::ConstSharedPtr cloud;
  auto subscription = node->create_subscription<PointCloud2>(
      "points", rclcpp::QoS(5).reliable(), [&](PointCloud2::ConstSharedPtr got) { cloud = got; });
  vantorel_test::ChildProcess program(
      {FRAME_POINTS_NODE, "--ros-args", "-p", "depth_scale:=0.0002", "-p", "max_depth:=65535"});
  vantorel_test::ChildProcess replayer(
      {REPLAY_FRAME, "--detections", dir + "/detections.json", "--depth", dir + "/tum_1_depth.png",
       "--camera", dir + "/camera_info.yaml", "--camera-to-arm-base",
       dir + "/identity_transform.yaml", "--arm-base-to-map", dir + "/identity_transform.yaml"});
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!cloud && std::chrono::steady_clock::now() < deadline) {
    rclcpp::spin_some(node);
    std::this_thread::sleep_for(10ms);
  }
  int status = 0;
  if (!cloud) {
    std::fprintf(stderr, "no cloud within 20 s\n");
    status = 1;
  } else {
    std::vector<double> z;
    for (sensor_msgs::PointCloud2ConstIterator<float> it(*cloud, "z"); it != it.end(); ++it) {
      z.push_back(*it);
    }
    std::printf("cloud points: %zu, frame '%s'\n", z.size(), cloud->header.frame_id.c_str());
    std::printf("cloud median depth:        %.6f m\n", vantorel_bench::percentile(z, 0.5));
    std::printf("raw median depth / 5000:   %.6f m\n", rawMedianMetres(dir));
  }
  rclcpp::shutdown();
  return status;
}
