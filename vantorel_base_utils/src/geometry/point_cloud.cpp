// SPDX-License-Identifier: Apache-2.0
// PointCloud2 messages of projected points, written straight into the message's byte buffer.
#include "vantorel_base_utils/point_cloud.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "detection/class_id_text.hpp"
#include "geometry/labelled_cloud.hpp"
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

// Sets a cloud's width to `width` points of its point_step, as row_step can state them.
void setWidth(PointCloud2& cloud, std::size_t width) {
  const std::uint64_t row_bytes = std::uint64_t{cloud.point_step} * width;
  if (width > std::numeric_limits<std::uint32_t>::max() ||
      row_bytes > std::numeric_limits<std::uint32_t>::max()) {
    throw InputError(InputError::Reason::kOverLimit, "points",
                     "a point cloud row of " + std::to_string(row_bytes) +
                         " bytes is beyond what PointCloud2's row_step can state");
  }
  cloud.width = static_cast<std::uint32_t>(width);
  cloud.row_step = static_cast<std::uint32_t>(row_bytes);
}

// A cloud of height x width points of point_step bytes, its buffer sized and not yet filled.
PointCloud2 emptyCloud(const std_msgs::msg::Header& header, std::uint32_t height, std::size_t width,
                       std::uint32_t point_step) {
  PointCloud2 cloud;
  cloud.header = header;
  cloud.height = height;
  cloud.point_step = point_step;
  setWidth(cloud, width);
  cloud.fields = {field("x", 0, PointField::FLOAT32), field("y", 4, PointField::FLOAT32),
                  field("z", 8, PointField::FLOAT32)};
  cloud.is_bigendian = kHostIsBigEndian;
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

namespace kernel = projection_kernel;
using labelled_cloud::PointSummary;

constexpr std::uint32_t kLabelledStep = kXyzBytes + 2 * sizeof(std::uint32_t);

// Pixels projected at a time on their way into a labelled cloud: their points are still in
// the first-level cache when they are copied into it.
constexpr std::size_t kChunkPixels = 1024;

// The running summary of an instance's points.
class Summation {
 public:
  void add(const ProjectedPoint& p) {
    const float coordinates[3] = {p.x, p.y, p.z};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      summary_.sum[axis] += static_cast<double>(coordinates[axis]);
      summary_.min[axis] = std::min(summary_.min[axis], coordinates[axis]);
      summary_.max[axis] = std::max(summary_.max[axis], coordinates[axis]);
    }
  }

  PointSummary finish(std::size_t count) {
    summary_.count = count;
    if (count == 0) {
      summary_.min = {};
      summary_.max = {};
    }
    return summary_;
  }

 private:
  static constexpr float kInfinity = std::numeric_limits<float>::infinity();
  PointSummary summary_{
      0, {}, {kInfinity, kInfinity, kInfinity}, {-kInfinity, -kInfinity, -kInfinity}};
};

// Writes labelled points from `out` on, instance after instance; each instance's pixels are
// projected once and go straight on into the cloud, its points vector and its summary.
template <typename Sample>
class LabelledWriter {
 public:
  LabelledWriter(const kernel::DepthView<Sample>& view, const kernel::Lift& lift,
                 unsigned char* out)
      : view_(view),
        lift_(lift),
        project_(kernel::projectorFor(view).in_place),
        out_(out),
        scratch_(kChunkPixels) {}

  void write(const labelled_cloud::Instance& instance, std::uint32_t instance_id) {
    const std::vector<std::array<int, 2>>& pixels = *instance.pixels;
    std::vector<ProjectedPoint>* kept_points = instance.points;
    if (kept_points != nullptr) {
      kept_points->clear();
      kept_points->resize(pixels.size());  // not cleared (see ProjectedPoint); cut below
    }
    const std::uint32_t labels[2] = {instance.class_id, instance_id};
    Summation summation;
    std::size_t kept = 0;
    for (std::size_t start = 0; start < pixels.size(); start += kChunkPixels) {
      ProjectedPoint* points =
          kept_points != nullptr ? kept_points->data() + kept : scratch_.data();
      const std::size_t count =
          project_(pixels.data() + start, std::min(kChunkPixels, pixels.size() - start), view_,
                   lift_, points);
      for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out_, &points[i], kXyzBytes);
        std::memcpy(out_ + kXyzBytes, labels, sizeof(labels));
        out_ += kLabelledStep;
        summation.add(points[i]);
      }
      kept += count;
    }
    if (kept_points != nullptr) {
      kept_points->resize(kept);
    }
    if (instance.summary != nullptr) {
      *instance.summary = summation.finish(kept);
    }
  }

  const unsigned char* end() const { return out_; }

 private:
  kernel::DepthView<Sample> view_;
  kernel::Lift lift_;
  kernel::ListProjector<Sample> project_;
  unsigned char* out_;
  std::vector<ProjectedPoint> scratch_;
};

// Every instance written in order, numbered from 1; returns the end of what was written.
template <typename Sample>
const unsigned char* writeInstances(const kernel::DepthView<Sample>& view, const kernel::Lift& lift,
                                    const std::vector<labelled_cloud::Instance>& instances,
                                    unsigned char* out) {
  LabelledWriter<Sample> writer(view, lift, out);
  std::uint32_t instance_id = 0;
  for (const labelled_cloud::Instance& instance : instances) {
    writer.write(instance, ++instance_id);
  }
  return writer.end();
}

}  // namespace

namespace labelled_cloud {

PointCloud2 projectLabelledCloud(const ProjectionContext& ctx, CloudFrame frame,
                                 const std::vector<Instance>& instances,
                                 const std_msgs::msg::Header& header) {
  const ProjectionContext view = contextFor(ctx, frame);
  std::size_t pixel_count = 0;
  for (const Instance& instance : instances) {
    pixel_count += instance.pixels->size();
  }
  PointCloud2 cloud = emptyCloud(header, 1, 0, kLabelledStep);
  cloud.fields.push_back(field("class_id", kXyzBytes, PointField::UINT32));
  cloud.fields.push_back(field("instance_id", kXyzBytes + 4, PointField::UINT32));
  // Room for a point per pixel, cut to the points written.
  cloud.data.resize(pixel_count * kLabelledStep);
  unsigned char* begin = cloud.data.data();
  const Eigen::Matrix4d& camera_to_target = cameraToTarget(view, frame);
  const unsigned char* end =
      view.depth.type() == CV_32FC1
          ? writeInstances(
                kernel::metricDepthViewOf(view.depth, view.min_depth, view.max_depth,
                                          view.depth_scale),
                kernel::liftFor(view.fx, view.fy, view.cx, view.cy, 1.0, camera_to_target),
                instances, begin)
          : writeInstances(kernel::depthViewOf(view.depth, view.min_depth, view.max_depth),
                           kernel::liftFor(view.fx, view.fy, view.cx, view.cy, view.depth_scale,
                                           camera_to_target),
                           instances, begin);
  const auto written = static_cast<std::size_t>(end - begin);
  setWidth(cloud, written / kLabelledStep);
  cloud.data.resize(written);
  return cloud;
}

}  // namespace labelled_cloud

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
  std::vector<labelled_cloud::Instance> instances;
  for (const auto& [key, pixel_lists] : pixel_map) {
    const std::uint32_t class_id = classIdOf(key);
    for (const auto& pixels : pixel_lists) {
      instances.push_back({class_id, &pixels, nullptr, nullptr});
    }
  }
  return labelled_cloud::projectLabelledCloud(ctx, frame, instances, header);
}

}  // namespace vantorel_base_utils
