// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rclcpp/logger.hpp>

#include "support/input_error_reason.hpp"
#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/detection_points.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace {

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;
using Reason = vbu::InputError::Reason;

const std::string kSample = VANTOREL_SAMPLE_DIR_SOURCE;
const rclcpp::Logger kLogger = rclcpp::get_logger("test_detection_points");

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sample frame's inputs in the forms a node holds them.
struct Frame {
  std::string detections = fileText(kSample + "/detections.json");
  vbu::CameraModel camera = vbu::cameraModelFromCameraInfo(
      vbu::cameraInfoFromFile(kSample + "/camera.yaml", rclcpp::get_logger("test")));
  cv::Mat depth = vbu::readDepthImage(kSample + "/depth.png", camera);
  Eigen::Isometry3d camera_to_arm_base = transformOf("camera_to_arm_base.json");
  Eigen::Isometry3d arm_base_to_map = transformOf("arm_base_to_map.json");

  static Eigen::Isometry3d transformOf(const std::string& name) {
    return Eigen::Isometry3d(vbu::toEigenTransform(json::parse(fileText(kSample + "/" + name))));
  }

  vbu::DetectionPoints project(const std::string& text, const cv::Mat& image,
                               const vbu::DetectionPointsOptions& options) const {
    return vbu::projectDetections(text, image, camera, camera_to_arm_base, arm_base_to_map, options,
                                  kLogger);
  }
  vbu::DetectionPoints project(const vbu::DetectionPointsOptions& options) const {
    return project(detections, depth, options);
  }
};

vbu::DetectionPointsOptions withSuppression() {
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = 0.5F;
  return options;
}

bool samePoints(const std::vector<vbu::ProjectedPoint>& a,
                const std::vector<vbu::ProjectedPoint>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

// The road against the library's steps called one by one, each instance projected on its
// own: the same points bit for bit, the labelled cloud of the instances' pixel map byte for
// byte (so instance_id k is the k-th instance of the map's JSON), and summaries of exactly
// those points.
TEST(ProjectDetections, GivesWhatTheStepsGiveOneByOne) {
  const Frame frame;
  for (const vbu::CloudFrame target : {vbu::CloudFrame::Map, vbu::CloudFrame::ArmBase}) {
    vbu::DetectionPointsOptions options = withSuppression();
    options.frame = target;
    const vbu::DetectionPoints road = frame.project(options);

    const ymp::ParsedYolo kept =
        ymp::sameClassBboxNms(ymp::parseYoloResult(frame.detections, kLogger), 0.5F, kLogger);
    const ymp::InstancePixelsResult pixels = ymp::buildInstancePixels(kept, kLogger);
    const vbu::ProjectionContext context = vbu::createProjectionContext(
        frame.depth, frame.camera, frame.camera_to_arm_base, frame.arm_base_to_map, options.depth);
    ASSERT_EQ(road.instances.size(), 4u);
    EXPECT_EQ(road.suppressed, std::vector<std::size_t>{4});
    EXPECT_TRUE(road.dropped.empty());
    ymp::InstancePixelMap map;
    for (std::size_t i = 0; i < road.instances.size(); ++i) {
      const vbu::InstancePoints& instance = road.instances[i];
      SCOPED_TRACE("instance " + std::to_string(i));
      EXPECT_EQ(instance.detection.index, kept.detections[i].index);
      EXPECT_EQ(instance.pixels, pixels.instances[i].pixels);
      const auto points = target == vbu::CloudFrame::Map
                              ? vbu::projectImagePointsToMap(context, instance.pixels)
                              : vbu::projectImagePointsToArmBase(context, instance.pixels);
      EXPECT_TRUE(samePoints(instance.points, points));
      ASSERT_EQ(instance.point_count, points.size());
      ASSERT_GT(points.size(), 100u);
      std::array<double, 3> sum{};
      for (const vbu::ProjectedPoint& p : points) {
        const float xyz[3] = {p.x, p.y, p.z};
        for (std::size_t axis = 0; axis < 3; ++axis) {
          sum[axis] += xyz[axis];
          EXPECT_LE(instance.min[axis], xyz[axis]);
          EXPECT_GE(instance.max[axis], xyz[axis]);
        }
      }
      for (std::size_t axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(instance.centroid[axis], sum[axis] / static_cast<double>(points.size()));
      }
      map[std::to_string(instance.detection.cls)].push_back(instance.pixels);
    }
    const auto cloud = vbu::instancePointCloud2(context, map, target, road.labelled_cloud.header);
    EXPECT_EQ(road.labelled_cloud, cloud);
    std::uint32_t number = 0;
    for (const auto& [key, instances] : map) {
      for (const auto& instance_pixels : instances) {
        ++number;
        const auto same = [&](const vbu::InstancePoints& i) { return i.pixels == instance_pixels; };
        EXPECT_EQ(std::find_if(road.instances.begin(), road.instances.end(), same)->instance_id,
                  number);
      }
    }
  }
}

// A node that publishes only the clouds and the centroids keeps no point lists; what it
// publishes does not change. The organised cloud may be asked for in a frame of its own.
TEST(ProjectDetections, PointListsAndTheOrganisedCloudOnRequest) {
  const Frame frame;
  const vbu::DetectionPoints full = frame.project(withSuppression());
  EXPECT_FALSE(full.organized_cloud.has_value());
  vbu::DetectionPointsOptions lean = withSuppression();
  lean.instance_points = false;
  lean.organized_frame = vbu::CloudFrame::Camera;
  const vbu::DetectionPoints road = frame.project(lean);
  EXPECT_EQ(road.labelled_cloud, full.labelled_cloud);
  ASSERT_EQ(road.instances.size(), full.instances.size());
  for (std::size_t i = 0; i < road.instances.size(); ++i) {
    EXPECT_TRUE(road.instances[i].points.empty());
    EXPECT_EQ(road.instances[i].point_count, full.instances[i].points.size());
    EXPECT_EQ(road.instances[i].centroid, full.instances[i].centroid);
    EXPECT_EQ(road.instances[i].max, full.instances[i].max);
  }
  const vbu::ProjectionContext context = vbu::createProjectionContext(
      frame.depth, frame.camera, frame.camera_to_arm_base, frame.arm_base_to_map, lean.depth);
  ASSERT_TRUE(road.organized_cloud.has_value());
  EXPECT_EQ(*road.organized_cloud,
            vbu::organizedPointCloud2(context, vbu::CloudFrame::Camera, std_msgs::msg::Header()));
}

// A sensor_msgs/Image's rows may be padded: the road reads a cv::Mat over such a buffer, as a
// node wraps one, where its rows lie, and leaves the buffer as it was.
TEST(ProjectDetections, ReadsAWrappedBufferRowByRowStep) {
  const Frame frame;
  const std::size_t row_bytes = static_cast<std::size_t>(frame.depth.cols) * 2;
  const std::size_t step = row_bytes + 10;
  std::vector<std::uint8_t> buffer(step * static_cast<std::size_t>(frame.depth.rows), 0xEE);
  for (int v = 0; v < frame.depth.rows; ++v) {
    std::memcpy(&buffer[static_cast<std::size_t>(v) * step], frame.depth.ptr(v), row_bytes);
  }
  const std::vector<std::uint8_t> original = buffer;
  const cv::Mat wrapped(frame.depth.rows, frame.depth.cols, CV_16UC1, buffer.data(), step);
  const vbu::DetectionPoints road = frame.project(frame.detections, wrapped, withSuppression());
  EXPECT_EQ(road.labelled_cloud, frame.project(withSuppression()).labelled_cloud);
  EXPECT_GT(road.labelled_cloud.width, 10000u);
  EXPECT_TRUE(buffer == original);
}

// Detections no output can hold, and class masks that do not decode, are left out and listed;
// the rest of the frame is still there.
TEST(ProjectDetections, ListsWhatItLeavesOutAndGoesOn) {
  const Frame frame;
  json detections = json::parse(frame.detections);
  detections["cls_list"][1] = -1;         // would wrap in the unsigned class_id field
  detections["conf_list"][2] = 1e39;      // beyond float
  detections["masks_base64"]["0"] = "#";  // detections 0 and 4 cut from it
  const vbu::DetectionPoints road =
      frame.project(detections.dump(), frame.depth, withSuppression());
  ASSERT_EQ(road.dropped.size(), 3u);
  EXPECT_EQ(road.dropped[0].collection + road.dropped[0].key, "detections1");
  EXPECT_EQ(road.dropped[0].reason, Reason::kOutOfRange);
  EXPECT_EQ(road.dropped[0].message, "detection 1 has the negative class id -1");
  EXPECT_EQ(road.dropped[1].collection + road.dropped[1].key, "detections2");
  EXPECT_EQ(road.dropped[1].reason, Reason::kNotFinite);
  EXPECT_EQ(road.dropped[2].collection + road.dropped[2].key, "masks_base640");
  EXPECT_EQ(road.dropped[2].reason, Reason::kMalformed);
  EXPECT_EQ(road.suppressed, std::vector<std::size_t>{4});
  ASSERT_EQ(road.instances.size(), 2u);
  EXPECT_EQ(road.instances[0].detection.index, 0u);
  EXPECT_EQ(road.instances[0].point_count, 0u);  // its class mask is gone
  EXPECT_EQ(road.instances[1].detection.index, 3u);
  EXPECT_EQ(road.labelled_cloud.width, road.instances[1].point_count);
}

// Everything refused is an InputError whose reason a node can count, and the projection
// inputs are checked before any mask is decoded.
TEST(ProjectDetections, RefusalsAreInputErrorsWithTheirReasons) {
  const Frame frame;
  const auto reason = [&](const std::string& text, const cv::Mat& image) {
    return vantorel_test::inputErrorReason([&] { frame.project(text, image, {}); });
  };
  json misfit = json::parse(frame.detections);
  misfit["instance_masks"][0]["width"] = 51;
  json undecodable = json::parse(frame.detections);
  undecodable["instance_masks"][0]["mask_base64"] = "####";
  json short_list = json::parse(frame.detections);
  short_list["conf_list"].erase(0);
  json missing = json::parse(frame.detections);
  missing.erase("cls_list");
  EXPECT_EQ(reason("{\"bbox_xyxy_list\": [", frame.depth), Reason::kMalformed);
  EXPECT_EQ(reason(short_list.dump(), frame.depth), Reason::kMalformed);
  EXPECT_EQ(reason(missing.dump(), frame.depth), Reason::kMalformed);
  EXPECT_EQ(reason(undecodable.dump(), frame.depth), Reason::kMalformed);
  EXPECT_EQ(reason(misfit.dump(), frame.depth), Reason::kSizeMismatch);
  EXPECT_EQ(reason(frame.detections, cv::Mat()), Reason::kMalformed);
  EXPECT_EQ(reason(frame.detections, cv::Mat(480, 640, CV_8UC1)), Reason::kUnsupported);
  EXPECT_EQ(reason(undecodable.dump(), frame.depth(cv::Rect(0, 0, 320, 480))),
            Reason::kSizeMismatch);
  const auto message = [&](const std::string& text) {
    return vantorel_test::errorText<vbu::InputError>([&] { frame.project(text, frame.depth, {}); });
  };
  EXPECT_EQ(message("{\"bbox_xyxy_list\": ["), "yolo_result is not valid JSON (at byte 21)");
  EXPECT_EQ(message(missing.dump()), "yolo_result: key 'cls_list' not found");
}

}  // namespace
