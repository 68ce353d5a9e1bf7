// SPDX-License-Identifier: Apache-2.0
// FramePointsNode: depth frames and a detector's results in, each detected instance's points
// out, as a labelled cloud and as 3D detections in the map (or arm base) frame.
//
// Inputs, paired by stamp (message_filters, exact or approximate): `depth/image`
// (sensor_msgs/Image, 16UC1 or mono16 in units of `depth_scale`, or 32FC1 metres) and
// `depth/camera_info` with the sensor-data QoS, `detections`
// (vantorel_base_utils/msg/DetectionResult) reliable. The camera frame is the image's
// frame_id; camera -> `arm_base_frame` -> `map_frame` come from tf2 at the image's stamp,
// waited for up to `tf_timeout` by a timer, so the executor never blocks.
//
// Outputs, stamped with the image's stamp, reliable: `points` (sensor_msgs/PointCloud2, x y
// z class_id instance_id, in the output frame), `detections_3d`
// (vision_msgs/Detection3DArray) and, with `publish_organized`, `organized_points` (the
// whole frame's organised cloud in the camera frame). Messages are handed over by unique_ptr,
// so a container with intra-process communication moves them.
//
// A frame is published whole or not at all: a bad input of any kind drops the frame, counts
// it and logs one warning a second at most, saying why; the node goes on with the next one.
//
// Parameters (read at start): classes (integer array, empty: all), nms_threshold (0.5;
// negative: off), depth_scale (0.001 m per unit), min_depth (1), max_depth (10000) in raw
// units, output_frame ("map" or "arm_base"), arm_base_frame ("arm_base_link"), map_frame
// ("map"), tf_timeout (0.1 s), queue_size (10), approximate_sync (false), publish_organized
// (false).
#ifndef VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_NODE_HPP_
#define VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_NODE_HPP_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <vantorel_base_utils/msg/detection_result.hpp>
#include <vision_msgs/msg/detection3_d_array.hpp>

#include "vantorel_base_utils_nodes/visibility_control.hpp"

namespace vantorel_base_utils_nodes {

class VANTOREL_BASE_UTILS_NODES_PUBLIC FramePointsNode : public rclcpp::Node {
 public:
  using Image = sensor_msgs::msg::Image;
  using CameraInfo = sensor_msgs::msg::CameraInfo;
  using DetectionResult = vantorel_base_utils::msg::DetectionResult;

  // Throws std::invalid_argument naming the parameter when one is out of range.
  explicit FramePointsNode(const rclcpp::NodeOptions& options = rclcpp::NodeOptions());
  ~FramePointsNode() override;

  FramePointsNode(const FramePointsNode&) = delete;
  FramePointsNode& operator=(const FramePointsNode&) = delete;

  std::uint64_t publishedFrameCount() const { return published_; }
  std::uint64_t droppedFrameCount() const;
  // Why the last frame was dropped; empty while none was.
  std::string lastDropReason() const;

 private:
  struct Impl;
  void onFrame(const Image::ConstSharedPtr& image, const CameraInfo::ConstSharedPtr& info,
               const DetectionResult::ConstSharedPtr& detections);
  void drainPending();
  void dropFrame(const Image& image, const std::string& reason);

  std::unique_ptr<Impl> impl_;
  std::atomic<std::uint64_t> published_{0};
};

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__FRAME_POINTS_NODE_HPP_
