// SPDX-License-Identifier: Apache-2.0
// Our clouds as ROS 2 nodes read them: through sensor_msgs' own PointCloud2 iterators, which
// find each field by name and step by point_step. Built only over a real ROS 2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <sensor_msgs/point_cloud2_iterator.hpp>

#include "vantorel_base_utils/point_cloud.hpp"

namespace vbu = vantorel_base_utils;
using sensor_msgs::PointCloud2ConstIterator;
using sensor_msgs::msg::PointCloud2;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

constexpr int kCols = 21;
constexpr int kRows = 4;

// Depth 1000 to 1403 mm, with a hole wherever (u + v) % 5 == 0.
vbu::ProjectionContext movedContext() {
  cv::Mat depth(kRows, kCols, CV_16UC1);
  for (int v = 0; v < kRows; ++v) {
    for (int u = 0; u < kCols; ++u) {
      depth.at<std::uint16_t>(v, u) =
          static_cast<std::uint16_t>((u + v) % 5 == 0 ? 0 : 1000 + 19 * u + 101 * v);
    }
  }
  vbu::CameraModel model;
  model.fx = 500;
  model.fy = 505;
  model.cx = 10;
  model.cy = 1.5;
  Eigen::Matrix4d camera_to_arm_base = Eigen::Matrix4d::Identity();
  camera_to_arm_base.topLeftCorner<3, 3>() =
      Eigen::AngleAxisd(0.6, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  camera_to_arm_base.topRightCorner<3, 1>() << 0.2, -0.1, 0.4;
  Eigen::Matrix4d arm_base_to_map = Eigen::Matrix4d::Identity();
  arm_base_to_map.topRightCorner<3, 1>() << 3.0, 1.0, 0.0;
  return vbu::createProjectionContext(depth, model, camera_to_arm_base, arm_base_to_map, 1, 10000,
                                      rclcpp::get_logger("test_point_cloud_iterators"));
}

std_msgs::msg::Header header(const char* frame_id) {
  std_msgs::msg::Header h;
  h.frame_id = frame_id;
  return h;
}

// Each point of the cloud, read with the float iterators of x, y and z.
std::vector<vbu::ProjectedPoint> iteratedPoints(const PointCloud2& cloud) {
  std::vector<vbu::ProjectedPoint> points;
  PointCloud2ConstIterator<float> x(cloud, "x");
  PointCloud2ConstIterator<float> y(cloud, "y");
  PointCloud2ConstIterator<float> z(cloud, "z");
  for (; x != x.end(); ++x, ++y, ++z) {
    points.emplace_back(*x, *y, *z);
  }
  return points;
}

void expectSamePoints(const std::vector<vbu::ProjectedPoint>& actual,
                      const std::vector<vbu::ProjectedPoint>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].x, expected[i].x) << "point " << i;
    EXPECT_EQ(actual[i].y, expected[i].y) << "point " << i;
    EXPECT_EQ(actual[i].z, expected[i].z) << "point " << i;
  }
}

}  // namespace

TEST(PointCloudIterators, ReadThePointsOfTheUnorganisedAndTheOrganisedCloud) {
  const vbu::ProjectionContext ctx = movedContext();
  const Pixels pixels = {{3, 1}, {0, 0}, {20, 3}, {7, 2}};
  const auto points = vbu::projectImagePointsToArmBase(ctx, pixels);
  ASSERT_EQ(points.size(), 3u);
  expectSamePoints(iteratedPoints(vbu::pointCloud2FromPoints(points, header("arm_base"))), points);

  const auto organised =
      iteratedPoints(vbu::organizedPointCloud2(ctx, vbu::CloudFrame::Map, header("map")));
  ASSERT_EQ(organised.size(), std::size_t{kCols * kRows});
  for (int v = 0; v < kRows; ++v) {
    for (int u = 0; u < kCols; ++u) {
      const vbu::ProjectedPoint& p = organised[static_cast<std::size_t>(v * kCols + u)];
      const auto expected = vbu::projectImagePointsToMap(ctx, {{u, v}});
      if (expected.empty()) {
        EXPECT_TRUE(std::isnan(p.x) && std::isnan(p.y) && std::isnan(p.z)) << u << ", " << v;
      } else {
        expectSamePoints({p}, expected);
      }
    }
  }
}

TEST(PointCloudIterators, ReadTheLabelsOfTheInstanceCloud) {
  const vbu::ProjectionContext ctx = movedContext();
  const vbu::yolo_mask_parser::InstancePixelMap pixel_map = {{"7", {{{1, 0}, {2, 0}}, {{4, 2}}}},
                                                             {"12", {{{6, 3}}}}};
  const PointCloud2 cloud =
      vbu::instancePointCloud2(ctx, pixel_map, vbu::CloudFrame::ArmBase, header("arm_base"));
  // In the map's order: class "12" before "7".
  std::vector<vbu::ProjectedPoint> expected_points;
  std::vector<std::uint32_t> expected_classes;
  std::vector<std::uint32_t> expected_instances;
  std::uint32_t instance_id = 0;
  for (const auto& [key, instances] : pixel_map) {
    for (const Pixels& pixels : instances) {
      ++instance_id;
      for (const vbu::ProjectedPoint& p : vbu::projectImagePointsToArmBase(ctx, pixels)) {
        expected_points.push_back(p);
        expected_classes.push_back(static_cast<std::uint32_t>(std::stoul(key)));
        expected_instances.push_back(instance_id);
      }
    }
  }
  ASSERT_EQ(expected_points.size(), 4u);
  expectSamePoints(iteratedPoints(cloud), expected_points);
  std::vector<std::uint32_t> classes;
  std::vector<std::uint32_t> instances;
  PointCloud2ConstIterator<std::uint32_t> class_id(cloud, "class_id");
  PointCloud2ConstIterator<std::uint32_t> instance(cloud, "instance_id");
  for (; class_id != class_id.end(); ++class_id, ++instance) {
    classes.push_back(*class_id);
    instances.push_back(*instance);
  }
  EXPECT_EQ(classes, expected_classes);
  EXPECT_EQ(instances, expected_instances);
}
