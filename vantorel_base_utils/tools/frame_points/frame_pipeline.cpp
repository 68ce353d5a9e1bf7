// SPDX-License-Identifier: Apache-2.0
#include "frame_pipeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <utility>

#include <nlohmann/json.hpp>

#include "transform_file.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/point_cloud.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/timer.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;

namespace {

// The library checks the file's header against the calibration before decoding it; its
// message names the file already.
cv::Mat readDepthFile(const std::string& path, const sensor_msgs::msg::CameraInfo& camera) {
  try {
    return vbu::readDepthImage(path, vbu::cameraModelFromCameraInfo(camera));
  } catch (const vbu::InputError& e) {
    throw InputError(e.what());
  }
}

// The library's message names the file already; any other exception's text would only
// confuse a user.
sensor_msgs::msg::CameraInfo readCameraInfo(const std::string& path) {
  try {
    return vbu::cameraInfoFromFile(path);
  } catch (const std::runtime_error& e) {
    throw InputError(e.what());
  } catch (const std::exception&) {
    throw InputError(path + ": cannot be read as a camera file");
  }
}

std::vector<InstancePoints> instancesOf(const ymp::ParsedYolo& parsed,
                                        std::vector<ymp::InstancePixels> pixel_lists) {
  std::map<std::size_t, const ymp::YoloDetection*> by_index;
  for (const auto& d : parsed.detections) {
    by_index[d.index] = &d;
  }
  std::vector<InstancePoints> instances;
  instances.reserve(pixel_lists.size());
  for (auto& pixels : pixel_lists) {
    const ymp::YoloDetection& d = *by_index.at(pixels.index);
    InstancePoints instance;
    instance.detection_index = pixels.index;
    instance.cls = pixels.cls;
    instance.conf = d.conf;
    instance.box = {d.x1, d.y1, d.x2, d.y2};
    instance.pixels = std::move(pixels.pixels);
    instances.push_back(std::move(instance));
  }
  return instances;
}

template <typename Point>
std::vector<std::array<float, 3>> asArrays(const std::vector<Point>& points) {
  std::vector<std::array<float, 3>> out;
  out.reserve(points.size());
  for (const auto& p : points) {
    out.push_back({p.x, p.y, p.z});
  }
  return out;
}

vbu::ProjectionContext contextOf(const FrameInputs& inputs, const FrameOptions& options) {
  vbu::DepthOptions depth;
  depth.depth_scale = options.depth_scale;
  depth.min_depth = options.min_depth;
  depth.max_depth = options.max_depth;
  return vbu::createProjectionContext(inputs.depth,
                                      vbu::cameraModelFromCameraInfo(inputs.camera_info),
                                      Eigen::Isometry3d(inputs.camera_to_arm_base),
                                      Eigen::Isometry3d(inputs.arm_base_to_map), depth);
}

// The instances grouped as points.json groups them, so that instance_id k is its k-th instance.
ymp::InstancePixelMap pixelMapOf(const std::vector<InstancePoints>& instances) {
  ymp::InstancePixelMap map;
  for (const auto& instance : instances) {
    map[std::to_string(instance.cls)].push_back(instance.pixels);
  }
  return map;
}

void projectInstances(const FrameInputs& inputs, const FrameOptions& options, FrameResult& result) {
  const vbu::ProjectionContext context = contextOf(inputs, options);
  std::vector<std::vector<std::array<int, 2>>> pixel_lists;
  pixel_lists.reserve(result.instances.size());
  for (const auto& instance : result.instances) {
    pixel_lists.push_back(instance.pixels);
  }
  const auto projected = options.frame == TargetFrame::Map
                             ? vbu::projectImagePointSetsToMap(context, pixel_lists)
                             : vbu::projectImagePointSetsToArmBase(context, pixel_lists);
  for (std::size_t i = 0; i < result.instances.size(); ++i) {
    result.instances[i].points = asArrays(projected[i]);
  }
  const vbu::CloudFrame frame =
      options.frame == TargetFrame::Map ? vbu::CloudFrame::Map : vbu::CloudFrame::ArmBase;
  std_msgs::msg::Header header;
  header.frame_id = frameName(options.frame);
  result.labelled_cloud =
      vbu::instancePointCloud2(context, pixelMapOf(result.instances), frame, header);
  if (options.organized) {
    result.organized_cloud = vbu::organizedPointCloud2(context, frame, header);
  }
}

// The library logs a class mask that does not decode or exceeds the frame and goes on
// without it; the tool stops instead, as its README promises, naming the first one.
std::vector<ymp::InstancePixels> pixelListsOf(const ymp::ParsedYolo& parsed,
                                              const std::string& detections_path,
                                              const ymp::MaskBudget& mask_budget,
                                              const rclcpp::Logger& logger) {
  ymp::InstancePixelsResult result = ymp::buildInstancePixels(parsed, logger, mask_budget);
  if (!result.dropped.empty()) {
    throw InputError(detections_path + ": class mask " + result.dropped.front().key +
                     " does not decode or exceeds the depth frame");
  }
  return std::move(result.instances);
}

// Non-finite numbers would reach the outputs as JSON null and PLY "inf"; points.pcd holds
// class ids unsigned.
void requireUsableDetections(const ymp::ParsedYolo& parsed, const std::string& detections_path) {
  for (const auto& d : parsed.detections) {
    if (!std::isfinite(d.x1) || !std::isfinite(d.y1) || !std::isfinite(d.x2) ||
        !std::isfinite(d.y2) || !std::isfinite(d.conf)) {
      throw InputError(detections_path + ": detection " + std::to_string(d.index) +
                       " has a box corner or confidence beyond the range of float");
    }
    if (d.cls < 0) {
      throw InputError(detections_path + ": detection " + std::to_string(d.index) +
                       " has the negative class id " + std::to_string(d.cls));
    }
  }
}

// The files that decide where a pixel lands, named when projecting fails.
std::string projectionInputs(const FrameOptions& options) {
  return options.camera_path + ", " + options.camera_to_arm_base_path + ", " +
         options.arm_base_to_map_path;
}

void requireFinitePoints(const FrameResult& result, const FrameOptions& options) {
  for (const auto& instance : result.instances) {
    for (const auto& p : instance.points) {
      if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
        throw InputError(projectionInputs(options) +
                         ": the projection gives coordinates that are not finite numbers "
                         "(degenerate intrinsics or transforms)");
      }
    }
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

FrameInputs loadFrameInputs(const FrameOptions& options, const rclcpp::Logger& /*logger*/) {
  return timed("load", "inputs", [&] {
    FrameInputs inputs;
    inputs.detections_text = readInputFile(options.detections_path, kMaxInputFileBytes);
    inputs.camera_info = readCameraInfo(options.camera_path);
    inputs.camera_to_arm_base = readTransformFile(options.camera_to_arm_base_path);
    inputs.arm_base_to_map = readTransformFile(options.arm_base_to_map_path);
    inputs.depth = readDepthFile(options.depth_path, inputs.camera_info);
    if (!vbu::cameraInfoHasValidIntrinsics(inputs.camera_info)) {
      throw InputError(options.camera_path + ": no usable focal lengths");
    }
    return inputs;
  });
}

FrameResult runFrame(const FrameInputs& inputs, const FrameOptions& options,
                     const rclcpp::Logger& logger) {
  const std::string& detections = options.detections_path;
  ymp::ParsedYolo parsed = timed(
      "parse", detections, [&] { return ymp::parseYoloResult(inputs.detections_text, logger); });
  parsed = timed("filter", detections, [&] {
    ymp::ParsedYolo kept = ymp::filterParsedYolo(parsed, options.keep_classes);
    return options.nms_iou_threshold
               ? ymp::sameClassBboxNms(kept, *options.nms_iou_threshold, logger)
               : kept;
  });
  requireUsableDetections(parsed, detections);
  ymp::MaskBudget mask_budget;  // no mask may be larger than the depth frame
  mask_budget.frame = inputs.depth.size();
  auto pixel_lists = timed("pixel_sets", detections,
                           [&] { return pixelListsOf(parsed, detections, mask_budget, logger); });
  FrameResult result;
  result.frame = options.frame;
  result.instances = instancesOf(parsed, std::move(pixel_lists));
  timed("projection", projectionInputs(options), [&] {
    projectInstances(inputs, options, result);
    return 0;
  });
  requireFinitePoints(result, options);
  return result;
}

std::array<double, 3> centroidOf(const std::vector<std::array<float, 3>>& points) {
  std::array<double, 3> sum{};
  for (const auto& p : points) {
    for (std::size_t i = 0; i < 3; ++i) {
      sum[i] += p[i];
    }
  }
  if (!points.empty()) {
    for (double& s : sum) {
      s /= static_cast<double>(points.size());
    }
  }
  return sum;
}

std::vector<ClassSummary> summarise(const FrameResult& result) {
  std::map<int, std::vector<std::array<float, 3>>> points_by_class;
  std::map<int, std::size_t> instances_by_class;
  for (const auto& instance : result.instances) {
    ++instances_by_class[instance.cls];
    auto& points = points_by_class[instance.cls];
    points.insert(points.end(), instance.points.begin(), instance.points.end());
  }
  std::vector<ClassSummary> rows;
  for (const auto& [cls, points] : points_by_class) {
    rows.push_back({cls, instances_by_class[cls], points.size(), centroidOf(points)});
  }
  return rows;
}

const char* frameName(TargetFrame frame) {
  return frame == TargetFrame::Map ? "map" : "arm_base";
}

}  // namespace vantorel_tools
