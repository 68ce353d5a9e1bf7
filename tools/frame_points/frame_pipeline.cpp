#include "frame_pipeline.hpp"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/timer.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;

namespace {

std::string readTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw InputError(path + ": cannot open file");
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    throw InputError(path + ": read error");
  }
  return text.str();
}

Eigen::Matrix4d readTransform(const std::string& path) {
  try {
    return vbu::toEigenTransform(json::parse(readTextFile(path)));
  } catch (const json::exception& e) {
    throw InputError(path + ": not a transform document: " + e.what());
  }
}

cv::Mat readDepth(const std::string& path) {
  readTextFile(path);  // a clear message for a missing file before the image reader's
  cv::Mat depth;
  try {
    depth = vbu::readDepthImage(path);
  } catch (const std::runtime_error&) {
    throw InputError(path + ": not an image OpenCV can read");
  }
  if (depth.type() != CV_16UC1) {
    throw InputError(path + ": depth image must be 16-bit single channel, got OpenCV type " +
                     std::to_string(depth.type()));
  }
  return depth;
}

// The library's message names the file already.
sensor_msgs::msg::CameraInfo readCameraInfo(const std::string& path, const rclcpp::Logger& logger) {
  try {
    return vbu::cameraInfoFromCalibrationFile(path, logger);
  } catch (const std::runtime_error& e) {
    throw InputError(e.what());
  }
}

std::vector<InstancePoints> instancesOf(const ymp::ParsedYolo& parsed,
                                        const std::vector<ymp::InstancePixelSet>& sets) {
  std::map<std::size_t, const ymp::YoloDetection*> by_index;
  for (const auto& d : parsed.detections) {
    by_index[d.index] = &d;
  }
  std::vector<InstancePoints> instances;
  instances.reserve(sets.size());
  for (const auto& set : sets) {
    const ymp::YoloDetection& d = *by_index.at(set.index);
    InstancePoints instance;
    instance.detection_index = set.index;
    instance.cls = set.cls;
    instance.conf = d.conf;
    instance.box = {d.x1, d.y1, d.x2, d.y2};
    instance.pixels = set.pixels;
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

void projectInstances(const FrameInputs& inputs, const FrameOptions& options,
                      const rclcpp::Logger& logger, std::vector<InstancePoints>& instances) {
  const vbu::ProjectionContext context = vbu::createProjectionContext(
      inputs.depth, inputs.camera_info, inputs.camera_to_arm_base, inputs.arm_base_to_map,
      options.min_depth, options.max_depth, logger);
  std::vector<std::vector<std::array<int, 2>>> pixel_lists;
  pixel_lists.reserve(instances.size());
  for (const auto& instance : instances) {
    pixel_lists.push_back(instance.pixels);
  }
  const auto projected = options.frame == TargetFrame::Map
                             ? vbu::projectImagePointSetsToMap(context, pixel_lists)
                             : vbu::projectImagePointSetsToArmBase(context, pixel_lists);
  for (std::size_t i = 0; i < instances.size(); ++i) {
    instances[i].points = asArrays(projected[i]);
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
  } catch (const std::exception& e) {
    throw InputError(blame + ": " + e.what());
  }
}

}  // namespace

FrameInputs loadFrameInputs(const FrameOptions& options, const rclcpp::Logger& logger) {
  return timed("load", "inputs", [&] {
    FrameInputs inputs;
    inputs.detections_text = readTextFile(options.detections_path);
    inputs.camera_info = readCameraInfo(options.camera_path, logger);
    inputs.camera_to_arm_base = readTransform(options.camera_to_arm_base_path);
    inputs.arm_base_to_map = readTransform(options.arm_base_to_map_path);
    inputs.depth = readDepth(options.depth_path);
    if (inputs.depth.cols != static_cast<int>(inputs.camera_info.width) ||
        inputs.depth.rows != static_cast<int>(inputs.camera_info.height)) {
      throw InputError(options.depth_path + ": depth image is " +
                       std::to_string(inputs.depth.cols) + "x" + std::to_string(inputs.depth.rows) +
                       " but the calibration says " + std::to_string(inputs.camera_info.width) +
                       "x" + std::to_string(inputs.camera_info.height));
    }
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
  ymp::MaskBudget mask_budget;  // no mask may be larger than the depth frame
  mask_budget.frame = inputs.depth.size();
  const auto sets = timed("pixel_sets", detections,
                          [&] { return ymp::buildInstancePixelSets(parsed, logger, mask_budget); });
  FrameResult result;
  result.frame = options.frame;
  result.instances = instancesOf(parsed, sets);
  timed("projection", options.depth_path, [&] {
    projectInstances(inputs, options, logger, result.instances);
    return 0;
  });
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
