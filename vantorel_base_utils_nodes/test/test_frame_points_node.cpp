// SPDX-License-Identifier: Apache-2.0
// The frame points node over the real middleware: the bundled sample frame replayed by
// replay_frame from a process of its own, with its transforms on /tf_static, into a node of
// this process.
#include <gtest/gtest.h>

#include <rcutils/logging.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <nlohmann/json.hpp>
#include <rclcpp/rclcpp.hpp>
#include <sensor_msgs/point_cloud2_iterator.hpp>
#include <vantorel_base_utils/camera_calibration.hpp>
#include <vantorel_base_utils/depth_image_file.hpp>
#include <vantorel_base_utils/detection_points.hpp>
#include <vantorel_base_utils/transforms.hpp>

#include "child_process.hpp"
#include "vantorel_base_utils_nodes/frame_points_node.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace vbu = vantorel_base_utils;
using sensor_msgs::msg::PointCloud2;
using vantorel_base_utils_nodes::FramePointsNode;
using vision_msgs::msg::Detection3DArray;

fs::path sampleDir() {
  return fs::path(ament_index_cpp::get_package_share_directory("vantorel_base_utils")) /
         "sample_frame";
}

std::string readText(const fs::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

Eigen::Isometry3d transformFile(const std::string& name) {
  return Eigen::Isometry3d(
      vbu::toEigenTransform(nlohmann::json::parse(readText(sampleDir() / name))));
}

// The library's road over the sample files, with the node's default options.
vbu::DetectionPoints libraryRoad() {
  const rclcpp::Logger logger = rclcpp::get_logger("expected");
  const auto info = vbu::cameraInfoFromFile((sampleDir() / "camera.yaml").string(), logger);
  const auto camera = vbu::cameraModelFromCameraInfo(info);
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = 0.5F;
  options.depth.max_depth = 10000;
  return vbu::projectDetections(readText(sampleDir() / "detections.json"),
                                vbu::readDepthImage((sampleDir() / "depth.png").string(), camera),
                                camera, transformFile("camera_to_arm_base.json"),
                                transformFile("arm_base_to_map.json"), options, logger);
}

// Warnings of the node under test, caught on their way to the console.
std::mutex g_warnings_mutex;
std::vector<std::string> g_warnings;
rcutils_logging_output_handler_t g_console = nullptr;

void catchWarnings(const rcutils_log_location_t* location, int severity, const char* name,
                   rcutils_time_point_value_t stamp, const char* format, va_list* args) {
  if (severity == RCUTILS_LOG_SEVERITY_WARN && std::string(name) == "frame_points_node") {
    va_list copy;
    va_copy(copy, *args);
    char text[2048];
    std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    std::lock_guard<std::mutex> lock(g_warnings_mutex);
    g_warnings.emplace_back(text);
  }
  g_console(location, severity, name, stamp, format, args);
}

class FramePointsNodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rclcpp::init(0, nullptr);
    g_console = rcutils_logging_get_output_handler();
    rcutils_logging_set_output_handler(catchWarnings);
  }
  static void TearDownTestSuite() { rclcpp::shutdown(); }

  void SetUp() override {
    rclcpp::NodeOptions options;
    options.parameter_overrides({{"tf_timeout", 0.05}});
    node_ = std::make_shared<FramePointsNode>(options);
    listener_ = std::make_shared<rclcpp::Node>("frame_points_test");
    const auto qos = rclcpp::QoS(10).reliable();
    points_sub_ = listener_->create_subscription<PointCloud2>(
        "points", qos, [this](PointCloud2::ConstSharedPtr cloud) {
          std::lock_guard<std::mutex> lock(mutex_);
          clouds_.push_back(cloud);
        });
    detections_sub_ = listener_->create_subscription<Detection3DArray>(
        "detections_3d", qos, [this](Detection3DArray::ConstSharedPtr detections) {
          std::lock_guard<std::mutex> lock(mutex_);
          detections_.push_back(detections);
        });
    executor_.add_node(node_);
    executor_.add_node(listener_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }

  void TearDown() override {
    executor_.cancel();
    spinner_.join();
  }

  // Waits up to `limit` for `done`; whether it came.
  static bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  bool waitForClouds(std::size_t count) {
    return waitFor(
        [&] {
          std::lock_guard<std::mutex> lock(mutex_);
          return clouds_.size() >= count && detections_.size() >= count;
        },
        20s);
  }

  bool waitForDrop() {
    return waitFor([&] { return node_->droppedFrameCount() > 0; }, 20s);
  }

  static vantorel_test::ChildProcess replay(std::vector<std::string> extra) {
    std::vector<std::string> argv = {REPLAY_FRAME, "--rate", "10"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return vantorel_test::ChildProcess(argv);
  }

  std::shared_ptr<FramePointsNode> node_;
  rclcpp::Node::SharedPtr listener_;
  rclcpp::Subscription<PointCloud2>::SharedPtr points_sub_;
  rclcpp::Subscription<Detection3DArray>::SharedPtr detections_sub_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
  std::mutex mutex_;
  std::vector<PointCloud2::ConstSharedPtr> clouds_;
  std::vector<Detection3DArray::ConstSharedPtr> detections_;
};

struct LabelledPoint {
  float x, y, z;
  std::uint32_t class_id, instance_id;
};

std::vector<LabelledPoint> pointsOf(const PointCloud2& cloud) {
  std::vector<LabelledPoint> points;
  sensor_msgs::PointCloud2ConstIterator<float> x(cloud, "x");
  sensor_msgs::PointCloud2ConstIterator<std::uint32_t> class_id(cloud, "class_id");
  sensor_msgs::PointCloud2ConstIterator<std::uint32_t> instance_id(cloud, "instance_id");
  for (; x != x.end(); ++x, ++class_id, ++instance_id) {
    points.push_back({x[0], x[1], x[2], *class_id, *instance_id});
  }
  return points;
}

TEST_F(FramePointsNodeTest, SampleFrameGivesTheLibraryRoadsPointsLabelsAndCentroids) {
  auto replayer = replay({});
  ASSERT_TRUE(waitForClouds(1)) << "no cloud; last drop: " << node_->lastDropReason();
  const vbu::DetectionPoints expected = libraryRoad();
  std::lock_guard<std::mutex> lock(mutex_);
  const PointCloud2& cloud = *clouds_.front();
  EXPECT_EQ(cloud.header.frame_id, "map");
  const auto got = pointsOf(cloud);
  const auto want = pointsOf(expected.labelled_cloud);
  ASSERT_GT(want.size(), 1000U);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_NEAR(got[i].x, want[i].x, 1e-5) << "point " << i;
    ASSERT_NEAR(got[i].y, want[i].y, 1e-5) << "point " << i;
    ASSERT_NEAR(got[i].z, want[i].z, 1e-5) << "point " << i;
    ASSERT_EQ(got[i].class_id, want[i].class_id) << "point " << i;
    ASSERT_EQ(got[i].instance_id, want[i].instance_id) << "point " << i;
  }

  // Detections pair with the cloud of their frame, one per instance with points.
  const Detection3DArray& detections = *detections_.front();
  EXPECT_EQ(detections.header.stamp, cloud.header.stamp);
  std::map<std::string, const vbu::InstancePoints*> by_id;
  for (const auto& instance : expected.instances) {
    if (instance.point_count != 0) {
      by_id[std::to_string(instance.instance_id)] = &instance;
    }
  }
  ASSERT_EQ(detections.detections.size(), by_id.size());
  for (const auto& detection : detections.detections) {
    ASSERT_EQ(by_id.count(detection.id), 1U) << detection.id;
    const vbu::InstancePoints& instance = *by_id[detection.id];
    EXPECT_EQ(detection.results.at(0).hypothesis.class_id, std::to_string(instance.detection.cls));
    EXPECT_NEAR(detection.bbox.center.position.x, instance.centroid[0], 1e-5);
    EXPECT_NEAR(detection.bbox.center.position.y, instance.centroid[1], 1e-5);
    EXPECT_NEAR(detection.bbox.center.position.z, instance.centroid[2], 1e-5);
  }
}

TEST_F(FramePointsNodeTest, AFrameWithoutItsTransformIsDroppedAndALaterOneWithItGoesThrough) {
  auto replayer = replay({"--transforms", "off", "--camera-frame", "camera_optical_frame"});
  ASSERT_TRUE(waitForDrop());
  EXPECT_NE(node_->lastDropReason().find("no transform"), std::string::npos)
      << node_->lastDropReason();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_TRUE(clouds_.empty());
  }
  auto mount = [](const std::string& parent, const std::string& child, const std::string& file) {
    geometry_msgs::msg::TransformStamped transform;
    transform.header.frame_id = parent;
    transform.child_frame_id = child;
    const auto document = nlohmann::json::parse(readText(sampleDir() / file));
    transform.transform = vbu::toGeometryTransform(vbu::toEigenTransform(document));
    return transform;
  };
  tf2_ros::StaticTransformBroadcaster broadcaster(listener_);
  broadcaster.sendTransform(
      {mount("arm_base_link", "camera_optical_frame", "camera_to_arm_base.json"),
       mount("map", "arm_base_link", "arm_base_to_map.json")});
  EXPECT_TRUE(waitForClouds(1)) << "last drop: " << node_->lastDropReason();
}

TEST_F(FramePointsNodeTest, MalformedDetectionsAreDroppedWithAWarningAndTheNodeGoesOn) {
  const fs::path bad =
      fs::temp_directory_path() / ("bad_detections_" + std::to_string(::getpid()) + ".json");
  std::ofstream(bad) << "{\"bbox_xyxy_list\": [[1, 2, 3, 4]], \"cls_list\": [0]";
  {
    // Until a warning names the bad text: one about a frame that came before its transforms
    // may hold the throttle for a moment.
    auto replayer = replay({"--detections", bad.string()});
    EXPECT_TRUE(waitFor(
        [] {
          std::lock_guard<std::mutex> lock(g_warnings_mutex);
          return !g_warnings.empty() &&
                 g_warnings.back().find("not valid JSON") != std::string::npos;
        },
        20s));
  }
  fs::remove(bad);
  EXPECT_NE(node_->lastDropReason().find("not valid JSON"), std::string::npos)
      << node_->lastDropReason();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_TRUE(clouds_.empty());
  }
  auto replayer = replay({});
  EXPECT_TRUE(waitForClouds(1)) << "last drop: " << node_->lastDropReason();
}

}  // namespace
