// SPDX-License-Identifier: Apache-2.0
// The road of one camera frame in one call: a detector's result and the frame's depth image
// in; each detected instance's pixels, points, centroid and extent, the labelled cloud of them
// all, and what was left out and why.
//
// projectDetections runs, in order: the checks of the projection inputs (those of
// createProjectionContext's options entry), class filtering (filterParsedYolo), same-class box
// suppression (sameClassBboxNms), the pixel lists of every kept detection (buildInstancePixels,
// with no mask larger than the depth image), and one pass over each instance's pixels that
// projects them and writes the points into the labelled cloud, the instance's point list and
// its centroid and extent. It is built for nodes: the depth image is read where it lies, a
// cv::Mat over a sensor_msgs/Image's buffer as it is (its row step honoured), never copied;
// inputs are borrowed for the duration of the call and the result is owned by the caller.
#ifndef VANTOREL_BASE_UTILS__DETECTION_POINTS_HPP_
#define VANTOREL_BASE_UTILS__DETECTION_POINTS_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/point_cloud.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/visibility_control.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {

struct DetectionPointsOptions {
  std::set<int> keep_classes;              // as filterParsedYolo takes it; empty: every class
  std::optional<float> nms_iou_threshold;  // as sameClassBboxNms takes it; unset: no suppression
  DepthOptions depth;                      // the depth unit and window (projection.hpp)
  // The frame of every point, centroid and extent, and of the labelled cloud.
  CloudFrame frame = CloudFrame::Map;
  // Also the organised cloud of the whole depth image (organizedPointCloud2), in this frame.
  std::optional<CloudFrame> organized_frame;
  // Each instance's points in its own list too. A caller that only needs the labelled cloud
  // and the centroids turns this off and saves a copy of every point.
  bool instance_points = true;
  // Mask pixels the call may hold (MaskBudget::max_total_pixels).
  std::uint64_t max_mask_pixels = yolo_mask_parser::kDefaultMaskPixelsPerCall;
  // Pixels of the instances' pixel lists the call may project, each a possible point: more
  // are refused (kOverLimit, input() "max_points") before any point is made, which bounds the
  // points and everything a caller builds from them.
  std::uint64_t max_points = std::numeric_limits<std::uint64_t>::max();
};

// One kept detection and what its pixels gave.
struct InstancePoints {
  yolo_mask_parser::YoloDetection detection;  // as parsed; index is its place in the lists
  // The number of its points in the labelled cloud (see DetectionPoints).
  std::uint32_t instance_id = 0;
  std::vector<std::array<int, 2>> pixels;  // as buildInstancePixels gives them
  // Its pixels with depth in the window, projected, in pixel order; empty unless
  // DetectionPointsOptions::instance_points.
  std::vector<ProjectedPoint> points;
  std::size_t point_count = 0;  // how many points it has, kept in `points` or not
  // The mean of its points, each coordinate summed in double in point order; zeros without
  // points.
  std::array<double, 3> centroid{};
  // The axis-aligned bounds of its points in the target frame; zeros without points.
  std::array<float, 3> min{};
  std::array<float, 3> max{};
};

struct DetectionPoints {
  std::vector<InstancePoints> instances;  // the kept detections, in detection order
  // Every instance's points as instancePointCloud2 gives them for the instances' pixel map:
  // fields x, y, z, class_id, instance_id; instances numbered from 1 in the map's order (class
  // ids in ascending order of their decimal text, so 10 before 2, then detection order), each
  // instance's points in pixel order. An instance without points keeps its number.
  sensor_msgs::msg::PointCloud2 labelled_cloud;
  std::optional<sensor_msgs::msg::PointCloud2> organized_cloud;
  // Both clouds come with an empty header: stamp them and name their frames before
  // publishing.
  std::vector<std::size_t> suppressed;  // indices of the detections suppression left out
  // Input left out, in this order: detections whose class id is negative (collection
  // "detections", key the index, kOutOfRange: class_id is unsigned) or with a box corner or
  // confidence that is not finite (kNotFinite), then the class masks buildInstancePixels
  // dropped ("masks_base64"). The rest of the frame is in the result; a caller that wants
  // all of a frame or nothing refuses it when this is not empty.
  std::vector<DroppedInput> dropped;
};

// The whole road from a detector's result text. Everything it refuses is an InputError:
//   - the text: kMalformed for a member given twice in one object (requireUniqueMembers,
//     checked first), "yolo_result is not valid JSON (at byte 12)", "yolo_result: " and
//     the JSON library's words for a member that is missing or of the wrong type, or the
//     parser's messages (list lengths, instance mask entries); the parser's kOutOfRange
//     errors unchanged. parseYoloResult logs the first two kinds at ERROR through `logger`.
//   - the projection inputs, before any mask is decoded: the InputErrors of
//     createProjectionContext's options entry (the depth image empty or not CV_16UC1 or
//     CV_32FC1, its size not the camera's, intrinsics, depth scale, transforms).
//   - instance masks: kMalformed for one that does not decode, kSizeMismatch "instance mask
//     dimensions do not match its bbox window" (input() "instance_masks"), and the
//     InputErrors of buildInstancePixels for the budget and for corners beyond int.
//   - kOverLimit for pixel lists holding more than options.max_points pixels in all, and for
//     a labelled cloud whose row row_step cannot state.
// Besides the parse, only the class masks it drops are logged (WARN, by buildInstancePixels);
// a good frame logs nothing.
VANTOREL_BASE_UTILS_PUBLIC DetectionPoints projectDetections(
    const std::string& yolo_result, const cv::Mat& depth_image, const CameraModel& camera,
    const Eigen::Isometry3d& camera_to_arm_base, const Eigen::Isometry3d& arm_base_to_map,
    const DetectionPointsOptions& options, const rclcpp::Logger& logger);

// The same road from a parsed result, with the same refusals from the projection inputs on.
VANTOREL_BASE_UTILS_PUBLIC DetectionPoints
projectDetections(const yolo_mask_parser::ParsedYolo& parsed, const cv::Mat& depth_image,
                  const CameraModel& camera, const Eigen::Isometry3d& camera_to_arm_base,
                  const Eigen::Isometry3d& arm_base_to_map, const DetectionPointsOptions& options,
                  const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION_POINTS_HPP_
