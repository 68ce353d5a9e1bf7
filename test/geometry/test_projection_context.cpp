#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "support/png_claiming.hpp"
#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vantorel_test::pngClaiming;
using vantorel_test::runtimeErrorText;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("test_projection_context");

sensor_msgs::msg::CameraInfo cameraInfo(std::uint32_t width, std::uint32_t height) {
  sensor_msgs::msg::CameraInfo info;
  info.width = width;
  info.height = height;
  info.k = {500, 0, 320, 0, 505, 240, 0, 0, 1};
  return info;
}

vbu::CameraModel model(std::uint32_t width, std::uint32_t height) {
  return vbu::cameraModelFromCameraInfo(cameraInfo(width, height));
}

cv::Mat depthImage(int rows, int cols, int type = CV_16UC1) {
  return cv::Mat(rows, cols, type, cv::Scalar(1000));
}

std::string coreFailure(const cv::Mat& image, const vbu::CameraModel& m) {
  return runtimeErrorText([&] {
    vbu::createProjectionContext(image, m, Eigen::Matrix4d::Identity(), Eigen::Matrix4d::Identity(),
                                 0, 10000, kLogger);
  });
}

Eigen::Matrix4d translation(double x, double y, double z) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.col(3) << x, y, z, 1;
  return m;
}

// A scratch directory that disappears with the test.
class TempDir {
 public:
  TempDir()
      : path_(std::filesystem::temp_directory_path() /
              ("vbu_ctx_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace

TEST(ProjectionContextChecks, ReportEachProblemWithItsTextInPrecedenceOrder) {
  // Intrinsics come before the image, even an empty one.
  EXPECT_EQ(runtimeErrorText([] {
              vbu::createProjectionContext(cv::Mat(), sensor_msgs::msg::CameraInfo(),
                                           Eigen::Matrix4d::Identity(), Eigen::Matrix4d::Identity(),
                                           0, 1, kLogger);
            }),
            "camera_intrinsics invalid");
  vbu::CameraModel nan_fx = model(0, 0);
  nan_fx.fx = std::nan("");
  EXPECT_EQ(coreFailure(depthImage(4, 4), nan_fx), "camera_intrinsics invalid");

  EXPECT_EQ(coreFailure(cv::Mat(), model(640, 480)), "Depth image is empty");
  EXPECT_EQ(coreFailure(depthImage(480, 640, CV_8UC1), model(640, 480)),
            "Depth image must be CV_16UC1, actual type=0");
  EXPECT_EQ(coreFailure(depthImage(480, 640, CV_32FC1), model(640, 480)),
            "Depth image must be CV_16UC1, actual type=5");
  EXPECT_EQ(coreFailure(depthImage(480, 640, CV_16UC3), model(1, 1)),
            "Depth image must be CV_16UC1, actual type=18");
  // Width is reported before height when both differ.
  EXPECT_EQ(coreFailure(depthImage(480, 640), model(1280, 720)),
            "Depth image width does not match CameraInfo: depth_cols=640 camera_info_width=1280");
  EXPECT_EQ(coreFailure(depthImage(480, 640), model(640, 720)),
            "Depth image height does not match CameraInfo: depth_rows=480 camera_info_height=720");
  // A size of 0 switches its check off.
  EXPECT_EQ(coreFailure(depthImage(3, 7), model(0, 0)), vantorel_test::kNoSuchException);
  EXPECT_EQ(coreFailure(depthImage(3, 7), model(7, 0)), vantorel_test::kNoSuchException);
  EXPECT_EQ(coreFailure(depthImage(3, 7), model(0, 3)), vantorel_test::kNoSuchException);
}

TEST(ProjectionContextChecks, TransformErrorsComeFirstThenTheFileThenTheCore) {
  const std::string missing = "/nonexistent/dir/depth image.png";
  const json good = {{"translation", {0, 0, 0}}, {"rotation", {1, 0, 0, 0}}};
  const json no_rotation = {{"translation", {0, 0, 0}}};
  const json string_element = {{"translation", {0, "a", 0}}, {"rotation", {1, 0, 0, 0}}};

  // arm_base_to_map (argument 4) is converted before camera_to_arm_base, both before the file.
  EXPECT_THROW(vbu::createProjectionContext(missing, model(0, 0), string_element, no_rotation, 0, 1,
                                            kLogger),
               json::out_of_range);
  EXPECT_THROW(
      vbu::createProjectionContext(missing, cameraInfo(0, 0), string_element, good, 0, 1, kLogger),
      json::type_error);
  EXPECT_THROW(vbu::createProjectionContext(depthImage(2, 2), cameraInfo(0, 0), good, no_rotation,
                                            0, 1, kLogger),
               json::out_of_range);

  // The file is read before the intrinsics are looked at.
  EXPECT_EQ(runtimeErrorText([&] {
              vbu::createProjectionContext(missing, sensor_msgs::msg::CameraInfo(), good, good, 0,
                                           1, kLogger);
            }),
            "Failed to read depth image: " + missing);
}

TEST(ProjectionContextFiles, ReadsSixteenBitImagesAndRefusesOthers) {
  TempDir dir;
  cv::Mat depth(3, 5, CV_16UC1);
  for (int i = 0; i < 15; ++i) {
    depth.at<std::uint16_t>(i / 5, i % 5) = static_cast<std::uint16_t>(4000 * i + 7);
  }
  ASSERT_TRUE(cv::imwrite(dir.file("depth.png"), depth));
  const vbu::ProjectionContext ctx =
      vbu::createProjectionContext(dir.file("depth.png"), model(5, 3), Eigen::Matrix4d::Identity(),
                                   Eigen::Matrix4d::Identity(), 0, 60000, kLogger);
  ASSERT_EQ(ctx.depth.type(), CV_16UC1);
  EXPECT_EQ(cv::countNonZero(ctx.depth != depth), 0);

  ASSERT_TRUE(cv::imwrite(dir.file("gray.png"), cv::Mat(3, 5, CV_8UC1, cv::Scalar(9))));
  EXPECT_EQ(runtimeErrorText([&] {
              vbu::createProjectionContext(dir.file("gray.png"), model(5, 3),
                                           Eigen::Matrix4d::Identity(), Eigen::Matrix4d::Identity(),
                                           0, 1, kLogger);
            }),
            "Depth image must be CV_16UC1, actual type=0");

  std::ofstream(dir.file("not_an_image.png")) << "plain text";
  EXPECT_EQ(runtimeErrorText([&] {
              vbu::createProjectionContext(dir.file("not_an_image.png"), model(5, 3),
                                           Eigen::Matrix4d::Identity(), Eigen::Matrix4d::Identity(),
                                           0, 1, kLogger);
            }),
            "Failed to read depth image: " + dir.file("not_an_image.png"));
}

TEST(ProjectionContextFiles, TruncatedOrCorruptPngFilesAreReportedAsUnreadable) {
  TempDir dir;
  cv::Mat depth(48, 64, CV_16UC1);
  cv::randu(depth, 0, 60000);
  std::vector<uchar> encoded;
  ASSERT_TRUE(cv::imencode(".png", depth, encoded));
  const std::string png(encoded.begin(), encoded.end());
  const std::size_t after_header = 33;  // signature and the header chunk

  std::vector<std::string> broken;
  for (const std::size_t length : {std::size_t{0}, std::size_t{8}, std::size_t{20}, after_header,
                                   png.size() / 2, png.size() - 12, png.size() - 1}) {
    broken.push_back(png.substr(0, length));
  }
  std::string flipped = png;
  flipped[png.size() / 2] = static_cast<char>(flipped[png.size() / 2] ^ 0x5A);
  broken.push_back(flipped);
  // Headers OpenCV refuses: more pixels than it decodes at all, or a zero width.
  broken.push_back(pngClaiming(65535, 65535, png.substr(after_header)));
  broken.push_back(pngClaiming(0, 48, png.substr(after_header)));
  // A plausible size whose pixel data is far too short.
  broken.push_back(pngClaiming(20000, 20000, png.substr(after_header)));

  const std::string path = dir.file("depth.png");
  const auto create = [&] {
    return vbu::createProjectionContext(path, model(0, 0), Eigen::Matrix4d::Identity(),
                                        Eigen::Matrix4d::Identity(), 0, 60000, kLogger);
  };
  for (std::size_t i = 0; i < broken.size(); ++i) {
    std::ofstream(path, std::ios::binary) << broken[i];
    EXPECT_EQ(runtimeErrorText(create), "Failed to read depth image: " + path) << "case " << i;
  }
  std::ofstream(path, std::ios::binary) << png;  // the same path reads again once repaired
  EXPECT_EQ(cv::countNonZero(create().depth != depth), 0);
}

TEST(ProjectionContextContents, OwnsItsDepthAndComposesTheMapTransform) {
  cv::Mat caller_image = depthImage(4, 6);
  const vbu::ProjectionContext ctx = vbu::createProjectionContext(
      caller_image, model(6, 4), translation(1, 0, 0), translation(0, 2, 0), 300, 200, kLogger);
  caller_image.setTo(cv::Scalar(5));
  EXPECT_EQ(ctx.depth.at<std::uint16_t>(3, 5), 1000);
  EXPECT_NE(ctx.depth.data, caller_image.data);

  // Limits are kept as given, even when they leave no depth to accept.
  EXPECT_EQ(ctx.min_depth, 300);
  EXPECT_EQ(ctx.max_depth, 200);
  EXPECT_EQ(ctx.fx, 500);
  EXPECT_EQ(ctx.fy, 505);
  EXPECT_EQ(ctx.cx, 320);
  EXPECT_EQ(ctx.cy, 240);
  EXPECT_TRUE(ctx.camera_to_arm_base.isApprox(translation(1, 0, 0)));
  EXPECT_TRUE(ctx.camera_to_map.isApprox(translation(1, 2, 0)));

  Eigen::Matrix4d quarter_turn_z = Eigen::Matrix4d::Identity();
  quarter_turn_z.topLeftCorner<2, 2>() << 0, -1, 1, 0;
  const vbu::ProjectionContext turned = vbu::createProjectionContext(
      caller_image, model(6, 4), translation(1, 0, 0), quarter_turn_z, 0, 1, kLogger);
  const Eigen::Vector4d origin = turned.camera_to_map * Eigen::Vector4d(0, 0, 0, 1);
  EXPECT_TRUE(origin.isApprox(Eigen::Vector4d(0, 1, 0, 1)));
}

TEST(ProjectionContextOverloads, EveryInputFormBuildsTheSameContext) {
  TempDir dir;
  const cv::Mat image = depthImage(480, 640);
  ASSERT_TRUE(cv::imwrite(dir.file("depth.png"), image));
  const std::string path = dir.file("depth.png");
  const sensor_msgs::msg::CameraInfo info = cameraInfo(640, 480);
  const vbu::CameraModel m = vbu::cameraModelFromCameraInfo(info);

  const json to_arm_json = {{"translation", {0.1, -0.2, 0.3}}, {"rotation", {0.9, 0.1, -0.3, 0.2}}};
  const json to_map_json = {{"translation", {4, 5, 6}}, {"rotation", {0.5, 0.5, 0.5, -0.5}}};
  const Eigen::Matrix4d to_arm = vbu::toEigenTransform(to_arm_json);
  const Eigen::Matrix4d to_map = vbu::toEigenTransform(to_map_json);
  const geometry_msgs::msg::Transform to_arm_msg = vbu::toGeometryTransform(to_arm);
  const geometry_msgs::msg::Transform to_map_msg = vbu::toGeometryTransform(to_map);
  geometry_msgs::msg::TransformStamped to_arm_stamped;
  geometry_msgs::msg::TransformStamped to_map_stamped;
  to_arm_stamped.transform = to_arm_msg;
  to_map_stamped.transform = to_map_msg;

  std::vector<vbu::ProjectionContext> built;
  const auto with_transforms = [&](const auto& depth_source, const auto& camera) {
    built.push_back(vbu::createProjectionContext(depth_source, camera, to_arm_json, to_map_json, 7,
                                                 9, kLogger));
    built.push_back(
        vbu::createProjectionContext(depth_source, camera, to_arm_msg, to_map_msg, 7, 9, kLogger));
    built.push_back(vbu::createProjectionContext(depth_source, camera, to_arm_stamped,
                                                 to_map_stamped, 7, 9, kLogger));
    built.push_back(
        vbu::createProjectionContext(depth_source, camera, to_arm, to_map, 7, 9, kLogger));
  };
  with_transforms(path, m);
  with_transforms(path, info);
  with_transforms(image, m);
  with_transforms(image, info);

  ASSERT_EQ(built.size(), 16u);
  for (const vbu::ProjectionContext& ctx : built) {
    EXPECT_EQ(cv::countNonZero(ctx.depth != image), 0);
    EXPECT_TRUE(ctx.camera_to_arm_base.isApprox(to_arm, 1e-12));
    EXPECT_TRUE(ctx.camera_to_map.isApprox(to_map * to_arm, 1e-12));
    EXPECT_EQ(ctx.fx, 500);
    EXPECT_EQ(ctx.cy, 240);
    EXPECT_EQ(ctx.min_depth, 7);
    EXPECT_EQ(ctx.max_depth, 9);
  }
}
