// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as the detector's result, along the whole road to the pixel map JSON, and
// through projectDetections on a depth frame of the sample's size. The JSON written for the
// map must read back, instance by instance, as the map's own pixels. The road refuses only
// with InputError, and what it returns holds together: the labelled cloud has every
// instance's points under its own number and class, and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/detection_points.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

// A floor 0.5 to 2 m away with holes, and a camera above it looking straight down.
const cv::Mat& depthFrame() {
  static const cv::Mat depth = [] {
    cv::Mat image(480, 640, CV_16UC1);
    for (int v = 0; v < image.rows; ++v) {
      for (int u = 0; u < image.cols; ++u) {
        const bool hole = (u * 7 + v * 3) % 31 == 0;
        image.at<std::uint16_t>(v, u) = hole ? 0 : static_cast<std::uint16_t>(500 + 2 * v + u);
      }
    }
    return image;
  }();
  return depth;
}

vbu::CameraModel camera() {
  vbu::CameraModel model;
  model.fx = model.fy = 525.0;
  model.cx = 319.5;
  model.cy = 239.5;
  model.width = 640;
  model.height = 480;
  return model;
}

std::uint32_t cloudField(const sensor_msgs::msg::PointCloud2& cloud, std::size_t point,
                         std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, cloud.data.data() + point * cloud.point_step + offset, sizeof(value));
  return value;
}

void checkRoad(const vbu::DetectionPoints& road) {
  const sensor_msgs::msg::PointCloud2& cloud = road.labelled_cloud;
  std::vector<const vbu::InstancePoints*> by_number(road.instances.size() + 1, nullptr);
  for (const vbu::InstancePoints& instance : road.instances) {
    VANTOREL_FUZZ_CHECK(instance.instance_id >= 1 && instance.instance_id <= road.instances.size());
    VANTOREL_FUZZ_CHECK(by_number[instance.instance_id] == nullptr);
    VANTOREL_FUZZ_CHECK(instance.points.size() == instance.point_count);
    VANTOREL_FUZZ_CHECK(instance.point_count <= instance.pixels.size());
    by_number[instance.instance_id] = &instance;
  }
  std::size_t point = 0;
  for (std::size_t number = 1; number < by_number.size(); ++number) {
    const vbu::InstancePoints& instance = *by_number[number];
    for (const vbu::ProjectedPoint& p : instance.points) {
      VANTOREL_FUZZ_CHECK(point < cloud.width);
      VANTOREL_FUZZ_CHECK(
          std::memcmp(cloud.data.data() + point * cloud.point_step, &p, sizeof(p)) == 0);
      VANTOREL_FUZZ_CHECK(cloudField(cloud, point, 12) ==
                          static_cast<std::uint32_t>(instance.detection.cls));
      VANTOREL_FUZZ_CHECK(cloudField(cloud, point, 16) == number);
      ++point;
    }
  }
  VANTOREL_FUZZ_CHECK(point == cloud.width && cloud.data.size() == point * cloud.point_step);
}

void runRoad(const std::string& text, const rclcpp::Logger& logger) {
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = 0.5F;
  const Eigen::Isometry3d identity = Eigen::Isometry3d::Identity();
  try {
    checkRoad(
        vbu::projectDetections(text, depthFrame(), camera(), identity, identity, options, logger));
  } catch (const vbu::InputError&) {
    // refused with a reason, as documented
  }
}

void checkJsonMatchesMap(const ymp::InstancePixelMap& map, const nlohmann::json& json) {
  VANTOREL_FUZZ_CHECK(json.is_object() && json.size() == map.size());
  for (const auto& [cls, instances] : map) {
    const nlohmann::json& dirts = json.at(cls).at("dirts");
    VANTOREL_FUZZ_CHECK(dirts.size() == instances.size());
    for (std::size_t i = 0; i < instances.size(); ++i) {
      VANTOREL_FUZZ_CHECK(!instances[i].empty());
      VANTOREL_FUZZ_CHECK(vantorel_base_utils::parseImagePointsJson(dirts[i]) == instances[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rclcpp::Logger& logger = vantorel_fuzz::quietLogger();
  runRoad(text, logger);
  ymp::InstancePixelMap map;
  try {
    map = ymp::buildInstancePixelMap(ymp::parseYoloResult(text, logger), logger);
  } catch (const std::exception&) {
    return 0;  // refusals are exceptions, never crashes
  }
  const nlohmann::json json = ymp::instancePixelMapToJson(map);
  checkJsonMatchesMap(map, json);
  (void)json.dump();
  return 0;
}
