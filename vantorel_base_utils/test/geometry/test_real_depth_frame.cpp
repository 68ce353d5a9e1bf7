// SPDX-License-Identifier: Apache-2.0
// A real sensor frame: a Kinect depth image of the TUM RGB-D benchmark (5000 raw units per
// metre) with the camera's published intrinsics, read from a CameraInfo file as
// `ros2 topic echo --once` saves it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/imgcodecs.hpp>

#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace {

using namespace vantorel_base_utils;

const std::string kFrameDir = VANTOREL_REAL_DEPTH_DIR;

template <typename T>
T median(std::vector<T> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Catches a depth unit that is not applied (millimetres assumed: five times too far) and a
// camera file whose intrinsics are misread.
TEST(RealDepthFrame, CentralRegionLiesAtTheRawDepthOverFiveThousand) {
  const std::string depth_path = kFrameDir + "/tum_1_depth.png";
  const cv::Mat raw = cv::imread(depth_path, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(raw.type(), CV_16UC1);
  const sensor_msgs::msg::CameraInfo info =
      cameraInfoFromFile(kFrameDir + "/camera_info.yaml", rclcpp::get_logger("real_depth_frame"));
  ASSERT_EQ(info.width, static_cast<std::uint32_t>(raw.cols));

  DepthOptions tum;
  tum.depth_scale = 1.0 / 5000.0;
  const CameraModel camera = cameraModelFromCameraInfo(info);
  const Eigen::Isometry3d identity = Eigen::Isometry3d::Identity();
  const ProjectionContext ctx =
      createProjectionContext(readDepthImage(depth_path, camera), camera, identity, identity, tum);

  std::vector<std::array<int, 2>> pixels;
  std::vector<int> raw_depths;
  for (int v = raw.rows / 2 - 40; v < raw.rows / 2 + 40; ++v) {
    for (int u = raw.cols / 2 - 40; u < raw.cols / 2 + 40; ++u) {
      if (raw.at<std::uint16_t>(v, u) != 0) {
        pixels.push_back({u, v});
        raw_depths.push_back(raw.at<std::uint16_t>(v, u));
      }
    }
  }
  ASSERT_GT(pixels.size(), 1000u);
  const std::vector<ProjectedPoint> points = projectImagePointsToArmBase(ctx, pixels);
  ASSERT_EQ(points.size(), pixels.size());
  std::vector<float> depths;
  for (const ProjectedPoint& p : points) {
    depths.push_back(p.z);
  }
  EXPECT_NEAR(median(depths), median(raw_depths) / 5000.0, 0.001);
  // The scene is a desk about a metre and a half away, not seven and a half.
  EXPECT_GT(median(depths), 1.0F);
  EXPECT_LT(median(depths), 2.5F);
}

}  // namespace
