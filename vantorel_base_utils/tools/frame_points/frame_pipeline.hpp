// SPDX-License-Identifier: Apache-2.0
// One camera frame from detector result and depth image to 3D points, as the
// vantorel_frame_points tool runs it. Kept apart from main() so tests can drive it.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_PIPELINE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_PIPELINE_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "input_file.hpp"
#include "vantorel_base_utils/detection_points.hpp"

namespace vantorel_tools {

// Largest detector result read. Depth image files are bound by the library's reader
// (kMaxDepthFileBytes, the same 64 MiB), transform files by the transform reader.
constexpr std::size_t kMaxInputFileBytes = std::size_t{64} << 20;

// What one frame may hold, checked before the work each guards. Every pixel of the
// instances' pixel lists may become a point, and a point costs about 70 bytes on its way to
// the outputs (its pixel, the point, the labelled cloud, points.ply and points.pcd), so the
// default allows about 0.6 GB; the masks the pixels are cut from may hold twice as many
// pixels, at 1 byte each. A depth pixel costs up to about 40 bytes with --organized (the
// image, the overlay, the organised cloud and its file), so the default allows about
// 0.35 GB. docs/input_bounds.md has the measurements.
constexpr std::uint64_t kDefaultMaxPoints = std::uint64_t{1} << 23;       // 27 full VGA masks
constexpr std::uint64_t kDefaultMaxDepthPixels = std::uint64_t{1} << 23;  // 3840 x 2160 fits

enum class TargetFrame { Map, ArmBase };

struct FrameOptions {
  std::string detections_path;
  std::string depth_path;
  std::string camera_path;
  std::string camera_to_arm_base_path;
  std::string arm_base_to_map_path;
  std::set<int> keep_classes;              // empty: every class
  std::optional<float> nms_iou_threshold;  // unset: no suppression
  // The depth window in raw units of a 16-bit image; 0 is a hole. A float image holds metres
  // and keeps min_depth * depth_scale <= z <= max_depth * depth_scale.
  int min_depth = 1;
  int max_depth = 10000;
  double depth_scale = 0.001;  // metres per raw unit of a 16-bit image
  TargetFrame frame = TargetFrame::Map;
  bool organized = false;  // also lift the whole depth image into an organised cloud
  std::uint64_t max_points = kDefaultMaxPoints;
  std::uint64_t max_depth_pixels = kDefaultMaxDepthPixels;
};

// Takes every input from the files of one frame folder: detections.json, depth.png,
// camera.yaml, camera_to_arm_base.json and arm_base_to_map.json.
void useFrameFolder(FrameOptions& options, const std::string& dir);

struct FrameInputs {
  std::string detections_text;
  cv::Mat depth;
  sensor_msgs::msg::CameraInfo camera_info;
  Eigen::Matrix4d camera_to_arm_base;
  Eigen::Matrix4d arm_base_to_map;
};

// The frame's detections as the library's road gives them: instances in detection order,
// each with its pixels, points and centroid, the labelled cloud (instance k, from 1, is the
// k-th instance of points.json) and, with FrameOptions::organized, the organised cloud.
struct FrameResult {
  TargetFrame frame = TargetFrame::Map;
  vantorel_base_utils::DetectionPoints detections;
};

struct ClassSummary {
  int cls = 0;
  std::size_t instances = 0;
  std::size_t points = 0;
  std::array<double, 3> centroid{};  // mean of all points of the class; zero when none
};

// Reads and checks every input file; throws InputError naming the file. Every input must be
// a regular file within the size bounds above. The depth image is a 16-bit greyscale PNG or
// a 32-bit float single-channel TIFF (metres); its header is checked against the
// calibration and against max_depth_pixels before the image is decoded.
FrameInputs loadFrameInputs(const FrameOptions& options, const rclcpp::Logger& logger);

// Parse, then the library's road (filter, suppress, pixel lists, projection); throws
// InputError on bad content, including a class mask that does not decode and anything that
// is not a finite number, and for masks that hold more pixels than max_points allows
// (naming --max-points). `logger` gets the library's messages about the detector result,
// which this refuses with its own.
FrameResult runFrame(const FrameInputs& inputs, const FrameOptions& options,
                     const rclcpp::Logger& logger);

// One row per class in ascending class order.
std::vector<ClassSummary> summarise(const FrameResult& result);

const char* frameName(TargetFrame frame);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_PIPELINE_HPP_
