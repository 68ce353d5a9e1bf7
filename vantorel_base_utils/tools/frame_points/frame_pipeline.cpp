// SPDX-License-Identifier: Apache-2.0
#include "frame_pipeline.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <new>
#include <set>

#include <nlohmann/json.hpp>
#include <rclcpp/logging.hpp>

#include "transform_file.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/timer.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;

namespace {

// The library checks the file's header against the calibration before decoding it; its
// message names the file already.
cv::Mat readDepthFile(const std::string& path, const sensor_msgs::msg::CameraInfo& camera,
                      std::uint64_t max_pixels) {
  try {
    return vbu::readDepthImage(path, vbu::cameraModelFromCameraInfo(camera), max_pixels);
  } catch (const vbu::InputError& e) {
    const bool over_budget = e.reason() == vbu::InputError::Reason::kOverLimit &&
                             std::string(e.what()).find(" pixels allowed") != std::string::npos;
    throw InputError(std::string(e.what()) +
                     (over_budget ? " (raise --max-depth-pixels to read it)" : ""));
  }
}

// The library's message names the file already; any other exception's text would only
// confuse a user. Its one warning (distortion the projection ignores) goes through `logger`.
sensor_msgs::msg::CameraInfo readCameraInfo(const std::string& path, const rclcpp::Logger& logger) {
  try {
    return vbu::cameraInfoFromFile(path, logger);
  } catch (const std::runtime_error& e) {
    throw InputError(e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    throw InputError(path + ": cannot be read as a camera file");
  }
}

vbu::DetectionPointsOptions roadOptions(const FrameOptions& options) {
  vbu::DetectionPointsOptions road;
  road.keep_classes = options.keep_classes;
  road.nms_iou_threshold = options.nms_iou_threshold;
  road.depth.depth_scale = options.depth_scale;
  road.depth.min_depth = options.min_depth;
  road.depth.max_depth = options.max_depth;
  road.frame = options.frame == TargetFrame::Map ? vbu::CloudFrame::Map : vbu::CloudFrame::ArmBase;
  if (options.organized) {
    road.organized_frame = road.frame;
  }
  road.max_points = options.max_points;
  road.max_mask_pixels = options.max_points > UINT64_MAX / 2 ? UINT64_MAX : 2 * options.max_points;
  return road;
}

// The files that decide where a pixel lands, named when projecting fails.
std::string projectionInputs(const FrameOptions& options) {
  return options.camera_path + ", " + options.camera_to_arm_base_path + ", " +
         options.arm_base_to_map_path;
}

// The files a refusal of the road comes from: what projects the pixels, or else the detector
// result that the masks came in.
std::string blameOf(const vbu::InputError& e, const FrameOptions& options) {
  static const std::set<std::string> kProjectionInputs = {
      "camera_intrinsics", "depth_image",       "depth_scale", "camera_to_arm_base",
      "arm_base_to_map",   "ProjectionContext", "points"};
  const bool from_projection =
      kProjectionInputs.count(e.input()) != 0 || e.input().rfind("camera_to_map", 0) == 0;
  return from_projection ? projectionInputs(options) : options.detections_path;
}

// A frame whose masks hold more than the point budget: the option that raises it is named
// beside the library's words.
std::string pointBudgetProblem(const vbu::InputError& e, const FrameOptions& options) {
  if (e.reason() != vbu::InputError::Reason::kOverLimit) {
    return "";
  }
  if (e.input() == "max_points") {
    return std::string(e.what()) + " (raise --max-points to project them)";
  }
  if (std::string(e.what()).find("mask budget") != std::string::npos) {
    return std::string(e.what()) + " (the point budget of " + std::to_string(options.max_points) +
           " points lets its masks hold twice as many pixels; raise --max-points to project "
           "them)";
  }
  return "";
}

// The road goes on past what it leaves out; the tool refuses the frame instead, as its README
// promises, with the first one's reason.
void refuseDropped(const vbu::DetectionPoints& detections, const std::string& detections_path) {
  if (!detections.dropped.empty()) {
    throw InputError(detections_path + ": " + detections.dropped.front().message);
  }
}

// Runs `step` under a named timer and turns the library's exceptions into an InputError
// that names the file the bad content came from.
template <typename Step>
auto timed(const char* name, const std::string& blame, Step&& step) {
  vbu::Timer timer(name, false);
  timer.start();
  try {
    auto result = step();
    timer.stop();
    return result;
  } catch (const InputError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // no input's fault: the budgets allow more than this machine gives
  } catch (const json::exception& e) {
    throw InputError(blame + ": " + jsonProblem(e));
  } catch (const std::exception& e) {
    throw InputError(blame + ": " + e.what());
  }
}

}  // namespace

void useFrameFolder(FrameOptions& options, const std::string& dir) {
  const std::filesystem::path folder(dir);
  options.detections_path = (folder / "detections.json").string();
  options.depth_path = (folder / "depth.png").string();
  options.camera_path = (folder / "camera.yaml").string();
  options.camera_to_arm_base_path = (folder / "camera_to_arm_base.json").string();
  options.arm_base_to_map_path = (folder / "arm_base_to_map.json").string();
}

FrameInputs loadFrameInputs(const FrameOptions& options, const rclcpp::Logger& logger) {
  return timed("load", "inputs", [&] {
    FrameInputs inputs;
    inputs.detections_text = readInputFile(options.detections_path, kMaxInputFileBytes);
    inputs.camera_info = readCameraInfo(options.camera_path, logger);
    inputs.camera_to_arm_base = readTransformFile(options.camera_to_arm_base_path);
    inputs.arm_base_to_map = readTransformFile(options.arm_base_to_map_path);
    inputs.depth = readDepthFile(options.depth_path, inputs.camera_info, options.max_depth_pixels);
    if (!vbu::cameraInfoHasValidIntrinsics(inputs.camera_info)) {
      throw InputError(options.camera_path + ": no usable focal lengths");
    }
    return inputs;
  });
}

FrameResult runFrame(const FrameInputs& inputs, const FrameOptions& options,
                     const rclcpp::Logger& logger) {
  const std::string& detections = options.detections_path;
  const ymp::ParsedYolo parsed = timed("parse", detections, [&] {
    ymp::requireUniqueMembers(inputs.detections_text);
    return ymp::parseYoloResult(inputs.detections_text, logger);
  });
  FrameResult result;
  result.frame = options.frame;
  result.detections = timed("road", detections, [&] {
    try {
      return vbu::projectDetections(
          parsed, inputs.depth, vbu::cameraModelFromCameraInfo(inputs.camera_info),
          Eigen::Isometry3d(inputs.camera_to_arm_base), Eigen::Isometry3d(inputs.arm_base_to_map),
          roadOptions(options), logger);
    } catch (const vbu::InputError& e) {
      const std::string budget = pointBudgetProblem(e, options);
      if (!budget.empty()) {
        throw InputError(detections + ": " + budget);
      }
      throw InputError(blameOf(e, options) + ": " + e.what());
    }
  });
  refuseDropped(result.detections, detections);
  const std::size_t suppressed = result.detections.suppressed.size();
  if (suppressed != 0) {  // every other detection after the class filter is an instance now
    RCLCPP_INFO(logger, "suppressed %zu / %zu detections (iou_threshold=%.3f)", suppressed,
                suppressed + result.detections.instances.size(),
                static_cast<double>(*options.nms_iou_threshold));
  }
  return result;
}

std::vector<ClassSummary> summarise(const FrameResult& result) {
  std::map<int, ClassSummary> by_class;
  for (const auto& instance : result.detections.instances) {
    ClassSummary& row = by_class[instance.detection.cls];
    row.cls = instance.detection.cls;
    ++row.instances;
    row.points += instance.points.size();
    for (const auto& p : instance.points) {  // every point of the class in turn, as one list
      row.centroid[0] += p.x;
      row.centroid[1] += p.y;
      row.centroid[2] += p.z;
    }
  }
  std::vector<ClassSummary> rows;
  for (auto& [cls, row] : by_class) {
    for (double& sum : row.centroid) {
      sum = row.points == 0 ? 0.0 : sum / static_cast<double>(row.points);
    }
    rows.push_back(row);
  }
  return rows;
}

const char* frameName(TargetFrame frame) {
  return frame == TargetFrame::Map ? "map" : "arm_base";
}

}  // namespace vantorel_tools
