// SPDX-License-Identifier: Apache-2.0
// PointCloud2 messages of projected points, written straight into the message's byte buffer.
#include "vantorel_base_utils/point_cloud.hpp"

#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "detection/class_id_text.hpp"
#include "geometry/projection_checks.hpp"
#include "geometry/projection_kernel.hpp"

namespace vantorel_base_utils {

namespace {

using sensor_msgs::msg::PointCloud2;
using sensor_msgs::msg::PointField;

constexpr std::uint32_t kXyzBytes = 3 * sizeof(float);
static_assert(sizeof(ProjectedPoint) == kXyzBytes, "points are copied as packed x, y, z");

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

PointField field(const char* name, std::uint32_t offset, std::uint8_t datatype) {
  PointField f;
  f.name = name;
  f.offset = offset;
  f.datatype = datatype;
  f.count = 1;
  return f;
}

// A cloud of height x width points of point_step bytes, its buffer sized and not yet filled.
PointCloud2 emptyCloud(const std_msgs::msg::Header& header, std::uint32_t height, std::size_t width,
                       std::uint32_t point_step) {
  const std::uint64_t row_bytes = std::uint64_t{point_step} * width;
  if (width > std::numeric_limits<std::uint32_t>::max() ||
      row_bytes > std::numeric_limits<std::uint32_t>::max()) {
    throw InputError(InputError::Reason::kOverLimit, "points",
                     "a point cloud row of " + std::to_string(row_bytes) +
                         " bytes is beyond what PointCloud2's row_step can state");
  }
  PointCloud2 cloud;
  cloud.header = header;
  cloud.height = height;
  cloud.width = static_cast<std::uint32_t>(width);
  cloud.fields = {field("x", 0, PointField::FLOAT32), field("y", 4, PointField::FLOAT32),
                  field("z", 8, PointField::FLOAT32)};
  cloud.is_bigendian = kHostIsBigEndian;
  cloud.point_step = point_step;
  cloud.row_step = static_cast<std::uint32_t>(row_bytes);
  cloud.data.resize(std::size_t{cloud.row_step} * height);
  cloud.is_dense = true;
  return cloud;
}

// The context with the transforms into the wanted frame: for the camera frame, identity
// ones, checked like any others (the camera-frame coordinates need bounds of their own).
ProjectionContext contextFor(const ProjectionContext& ctx, CloudFrame frame) {
  ProjectionContext view = ctx;  // shares the depth pixels
  if (frame == CloudFrame::Camera) {
    view.camera_to_arm_base.setIdentity();
    view.camera_to_map.setIdentity();
  }
  if (projection_checks::contextProblem(view)) {
    throw InputError(InputError::Reason::kMalformed, "ProjectionContext",
                     "ProjectionContext is invalid");
  }
  return view;
}

const Eigen::Matrix4d& cameraToTarget(const ProjectionContext& ctx, CloudFrame frame) {
  return frame == CloudFrame::ArmBase ? ctx.camera_to_arm_base : ctx.camera_to_map;
}

std::uint32_t classIdOf(const std::string& key) {
  const std::optional<int> id = yolo_mask_parser::classIdOfText(key);
  if (!id || *id < 0) {
    throw InputError(
        id ? InputError::Reason::kOutOfRange : InputError::Reason::kMalformed,
        "instance pixel map key \"" + key + "\"",
        "instance pixel map key \"" + key + "\" is not a class id from 0 to 2147483647");
  }
  return static_cast<std::uint32_t>(*id);
}

}  // namespace

PointCloud2 pointCloud2FromPoints(const std::vector<ProjectedPoint>& points,
                                  const std_msgs::msg::Header& header) {
  PointCloud2 cloud = emptyCloud(header, 1, points.size(), kXyzBytes);
  if (!points.empty()) {
    std::memcpy(cloud.data.data(), points.data(), cloud.data.size());
  }
  return cloud;
}

PointCloud2 organizedPointCloud2(const ProjectionContext& ctx, CloudFrame frame,
                                 const std_msgs::msg::Header& header) {
  namespace kernel = projection_kernel;
  const ProjectionContext view = contextFor(ctx, frame);
  const cv::Mat& depth = view.depth;
  PointCloud2 cloud = emptyCloud(header, static_cast<std::uint32_t>(depth.rows),
                                 static_cast<std::size_t>(depth.cols), kXyzBytes);
  cloud.is_dense = false;
  const Eigen::Matrix4d& camera_to_target = cameraToTarget(view, frame);
  // The buffer comes from operator new, aligned for any point.
  auto* points = reinterpret_cast<ProjectedPoint*>(cloud.data.data());
  if (depth.type() == CV_32FC1) {
    kernel::liftWholeImage(
        kernel::metricDepthViewOf(depth, view.min_depth, view.max_depth, view.depth_scale),
        kernel::liftFor(view.fx, view.fy, view.cx, view.cy, 1.0, camera_to_target), points);
  } else {
    kernel::liftWholeImage(
        kernel::depthViewOf(depth, view.min_depth, view.max_depth),
        kernel::liftFor(view.fx, view.fy, view.cx, view.cy, view.depth_scale, camera_to_target),
        points);
  }
  return cloud;
}

PointCloud2 instancePointCloud2(const ProjectionContext& ctx,
                                const yolo_mask_parser::InstancePixelMap& pixel_map,
                                CloudFrame frame, const std_msgs::msg::Header& header) {
  const ProjectionContext view = contextFor(ctx, frame);
  struct Instance {
    std::uint32_t class_id;
    std::vector<ProjectedPoint> points;
  };
  std::vector<Instance> instances;
  std::size_t total = 0;
  for (const auto& [key, pixel_lists] : pixel_map) {
    const std::uint32_t class_id = classIdOf(key);
    for (const auto& pixels : pixel_lists) {
      instances.push_back({class_id, frame == CloudFrame::ArmBase
                                         ? projectImagePointsToArmBase(view, pixels)
                                         : projectImagePointsToMap(view, pixels)});
      total += instances.back().points.size();
    }
  }
  constexpr std::uint32_t kPointStep = kXyzBytes + 2 * sizeof(std::uint32_t);
  PointCloud2 cloud = emptyCloud(header, 1, total, kPointStep);
  cloud.fields.push_back(field("class_id", kXyzBytes, PointField::UINT32));
  cloud.fields.push_back(field("instance_id", kXyzBytes + 4, PointField::UINT32));
  unsigned char* out = cloud.data.data();
  std::uint32_t instance_id = 0;
  for (const Instance& instance : instances) {
    const std::uint32_t labels[2] = {instance.class_id, ++instance_id};
    for (const ProjectedPoint& p : instance.points) {
      std::memcpy(out, &p, kXyzBytes);
      std::memcpy(out + kXyzBytes, labels, sizeof(labels));
      out += kPointStep;
    }
  }
  return cloud;
}

}  // namespace vantorel_base_utils
