// SPDX-License-Identifier: Apache-2.0
#include "frame_points_parameters.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

namespace vantorel_base_utils_nodes {
namespace {

namespace vbu = vantorel_base_utils;

constexpr std::int64_t kMaxQueueSize = 1000;

rcl_interfaces::msg::ParameterDescriptor describe(const char* text) {
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.description = text;
  descriptor.read_only = true;
  // So that `-p depth_scale:=1` is taken as 1.0 rather than refused for its type.
  descriptor.dynamic_typing = true;
  return descriptor;
}

[[noreturn]] void refuseParameter(const std::string& name, const rclcpp::ParameterValue& value,
                                  const std::string& rule) {
  throw std::invalid_argument(name + " must be " + rule + ", not " + rclcpp::to_string(value));
}

double numberParameter(rclcpp::Node& node, const std::string& name, double value,
                       const char* text) {
  const auto given = node.declare_parameter(name, rclcpp::ParameterValue(value), describe(text));
  if (given.get_type() == rclcpp::ParameterType::PARAMETER_INTEGER) {
    return static_cast<double>(given.get<std::int64_t>());
  }
  if (given.get_type() != rclcpp::ParameterType::PARAMETER_DOUBLE) {
    refuseParameter(name, given, "a number");
  }
  return given.get<double>();
}

std::int64_t integerParameter(rclcpp::Node& node, const std::string& name, std::int64_t value,
                              std::int64_t low, std::int64_t high, const char* text) {
  const auto given = node.declare_parameter(name, rclcpp::ParameterValue(value), describe(text));
  if (given.get_type() != rclcpp::ParameterType::PARAMETER_INTEGER ||
      given.get<std::int64_t>() < low || given.get<std::int64_t>() > high) {
    refuseParameter(name, given,
                    "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return given.get<std::int64_t>();
}

template <typename T>
T typedParameter(rclcpp::Node& node, const std::string& name, const T& value, const char* text) {
  const auto given = node.declare_parameter(name, rclcpp::ParameterValue(value), describe(text));
  if (given.get_type() != rclcpp::ParameterValue(value).get_type()) {
    refuseParameter(name, given,
                    "of type " + rclcpp::to_string(rclcpp::ParameterValue(value).get_type()));
  }
  return given.get<T>();
}

std::set<int> classesParameter(rclcpp::Node& node) {
  const char* name = "classes";
  const auto given = node.declare_parameter(name, rclcpp::ParameterValue(std::vector<int64_t>{}),
                                            describe("class ids to keep; empty: every class"));
  std::set<int> classes;
  std::vector<std::int64_t> ids;
  if (given.get_type() == rclcpp::ParameterType::PARAMETER_INTEGER) {
    ids.push_back(given.get<std::int64_t>());  // `-p classes:=3` for one class
  } else if (given.get_type() == rclcpp::ParameterType::PARAMETER_INTEGER_ARRAY) {
    ids = given.get<std::vector<std::int64_t>>();
  } else if (given.get_type() != rclcpp::ParameterType::PARAMETER_STRING_ARRAY ||
             !given.get<std::vector<std::string>>().empty()) {
    // An empty list given on the command line may arrive as any array type.
    refuseParameter(name, given, "an array of class ids");
  }
  for (const std::int64_t id : ids) {
    if (id < 0 || id > std::numeric_limits<int>::max()) {
      refuseParameter(name, given, "class ids from 0 to 2147483647");
    }
    classes.insert(static_cast<int>(id));
  }
  return classes;
}

}  // namespace

FramePointsSettings readFramePointsSettings(rclcpp::Node& node) {
  FramePointsSettings settings;
  vbu::DetectionPointsOptions& road = settings.road;
  road.keep_classes = classesParameter(node);
  const double nms = numberParameter(node, "nms_threshold", 0.5,
                                     "same-class box suppression IoU, 0 to 1; negative: off");
  if (!(nms <= 1.0)) {
    refuseParameter("nms_threshold", rclcpp::ParameterValue(nms), "at most 1 (negative: off)");
  }
  if (nms >= 0.0) {
    road.nms_iou_threshold = static_cast<float>(nms);
  }
  road.depth.depth_scale =
      numberParameter(node, "depth_scale", 0.001, "metres per unit of a 16-bit depth image");
  if (!std::isnormal(road.depth.depth_scale) || road.depth.depth_scale < 0.0) {
    refuseParameter("depth_scale", rclcpp::ParameterValue(road.depth.depth_scale),
                    "a finite number of metres above 0");
  }
  const std::int64_t int_max = std::numeric_limits<int>::max();
  road.depth.min_depth = static_cast<int>(
      integerParameter(node, "min_depth", 1, 0, int_max, "smallest depth kept, in raw units"));
  road.depth.max_depth = static_cast<int>(integerParameter(
      node, "max_depth", 10000, road.depth.min_depth, int_max, "largest depth kept, in raw units"));
  const std::string output =
      typedParameter<std::string>(node, "output_frame", "map", "map or arm_base");
  if (output != "map" && output != "arm_base") {
    refuseParameter("output_frame", rclcpp::ParameterValue(output), "\"map\" or \"arm_base\"");
  }
  road.frame = output == "map" ? vbu::CloudFrame::Map : vbu::CloudFrame::ArmBase;
  // A hostile or broken detector result must not take the robot's memory: the points a frame
  // may make, and the mask pixels it may decode (twice as many, for masks larger than their
  // instances), are bounded as the frame tool bounds them.
  const std::int64_t max_points =
      integerParameter(node, "max_points", std::int64_t{1} << 23, 1, std::int64_t{1} << 40,
                       "most points one frame may make; a frame with more is dropped");
  road.max_points = static_cast<std::uint64_t>(max_points);
  road.max_mask_pixels = 2 * road.max_points;
  // The labelled cloud and the centroids come from the same pass; the per-instance point
  // lists would only be copies.
  road.instance_points = false;
  settings.arm_base_frame =
      typedParameter<std::string>(node, "arm_base_frame", "arm_base_link", "the arm base frame");
  settings.map_frame = typedParameter<std::string>(node, "map_frame", "map", "the map frame");
  settings.tf_timeout =
      numberParameter(node, "tf_timeout", 0.1, "seconds a frame waits for its transforms");
  if (!(settings.tf_timeout >= 0.0 && settings.tf_timeout <= 60.0)) {
    refuseParameter("tf_timeout", rclcpp::ParameterValue(settings.tf_timeout),
                    "a number of seconds from 0 to 60");
  }
  settings.queue_size = static_cast<std::size_t>(integerParameter(
      node, "queue_size", 10, 1, kMaxQueueSize, "frames held while pairing by stamp"));
  settings.approximate_sync =
      typedParameter<bool>(node, "approximate_sync", false, "pair by nearest stamp");
  settings.publish_organized = typedParameter<bool>(
      node, "publish_organized", false, "also publish the whole frame's organised cloud");
  if (settings.publish_organized) {
    road.organized_frame = vbu::CloudFrame::Camera;
  }
  return settings;
}

}  // namespace vantorel_base_utils_nodes
