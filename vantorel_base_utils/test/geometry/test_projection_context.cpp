// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "support/input_error_reason.hpp"
#include "support/png_claiming.hpp"
#include "support/runtime_error_text.hpp"
#include "support/starts_with.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vbu = vantorel_base_utils;
using Reason = vbu::InputError::Reason;
using nlohmann::json;
using vantorel_test::inputErrorReason;
using vantorel_test::pngClaiming;
using vantorel_test::runtimeErrorText;
using vantorel_test::startsWith;

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

  // A header larger than the camera is not decoded (a 1 GB image for 100 bytes); it gets the
  // size message, after the intrinsics check that precedes it.
  std::ofstream(path, std::ios::binary) << pngClaiming(20000, 20000, png.substr(after_header));
  const auto create_for = [&](const vbu::CameraModel& camera) {
    return [&path, camera] {
      vbu::createProjectionContext(path, camera, Eigen::Matrix4d::Identity(),
                                   Eigen::Matrix4d::Identity(), 0, 60000, kLogger);
    };
  };
  EXPECT_EQ(runtimeErrorText(create_for(model(64, 48))),
            "Depth image width does not match CameraInfo: depth_cols=20000 camera_info_width=64");
  vbu::CameraModel no_focal_length = model(64, 48);
  no_focal_length.fx = 0;
  EXPECT_EQ(runtimeErrorText(create_for(no_focal_length)), "camera_intrinsics invalid");
}

// A named pipe without a writer would block an open for reading forever.
TEST(ProjectionContextFiles, APipeOrDeviceIsUnreadableWithoutWaiting) {
  ::alarm(30);  // a read that waits for a writer ends the test instead of hanging it
  TempDir dir;
  const std::string pipe = dir.file("depth.png");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {pipe, std::string("/dev/zero")}) {
    EXPECT_EQ(runtimeErrorText([&] {
                vbu::createProjectionContext(path, model(0, 0), Eigen::Matrix4d::Identity(),
                                             Eigen::Matrix4d::Identity(), 0, 1, kLogger);
              }),
              "Failed to read depth image: " + path);
  }
  ::alarm(0);
}

TEST(ProjectionContextFiles, ReadSixteenBitPgmAndKeepTheDocumentedExceptionType) {
  TempDir dir;
  std::ofstream(dir.file("depth.pgm"), std::ios::binary)
      << "P5\n# a comment\n3 2\n65535\n"
      << std::string("\x03\xe8", 2) + std::string(10, '\0');
  const auto ctx =
      vbu::createProjectionContext(dir.file("depth.pgm"), model(3, 2), Eigen::Matrix4d::Identity(),
                                   Eigen::Matrix4d::Identity(), 0, 60000, kLogger);
  EXPECT_EQ(ctx.depth.at<std::uint16_t>(0, 0), 1000);
  // The sixteen forms throw exactly the std::runtime_error they document, no subclass.
  const auto wider_camera = [&] {
    vbu::createProjectionContext(dir.file("depth.pgm"), model(4, 2), Eigen::Matrix4d::Identity(),
                                 Eigen::Matrix4d::Identity(), 0, 1, kLogger);
  };
  EXPECT_EQ(runtimeErrorText(wider_camera),
            "Depth image width does not match CameraInfo: depth_cols=3 camera_info_width=4");
  EXPECT_EQ(inputErrorReason(wider_camera), std::nullopt);
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

  // The options entry, its inputs through the converters.
  vbu::DepthOptions options;
  options.depth_scale = 1 / 5000.0;
  options.min_depth = 7;
  options.max_depth = 9;
  const vbu::CameraModel converted = vbu::cameraModelFromCameraInfo(info);
  built.push_back(
      vbu::createProjectionContext(vbu::readDepthImage(path, converted), converted,
                                   Eigen::Isometry3d(vbu::toEigenTransform(to_arm_stamped)),
                                   Eigen::Isometry3d(vbu::toEigenTransform(to_map_json)), options));

  for (const vbu::ProjectionContext& ctx : built) {
    EXPECT_EQ(cv::countNonZero(ctx.depth != image), 0);
    EXPECT_TRUE(ctx.camera_to_arm_base.isApprox(to_arm, 1e-12));
    EXPECT_TRUE(ctx.camera_to_map.isApprox(to_map * to_arm, 1e-12));
    EXPECT_EQ(ctx.fx, 500);
    EXPECT_EQ(ctx.cy, 240);
    EXPECT_EQ(ctx.min_depth, 7);
    EXPECT_EQ(ctx.max_depth, 9);
    EXPECT_EQ(ctx.depth_scale, &ctx == &built.back() ? 1 / 5000.0 : 0.001);
  }
}

TEST(ProjectionContextDepthOptions, TakeFloatMetresFromImagesAndFilesAndAnyDepthUnit) {
  TempDir dir;
  cv::Mat metres(3, 4, CV_32FC1, cv::Scalar(1.25f));
  metres.at<float>(0, 0) = std::nanf("");
  ASSERT_TRUE(cv::imwrite(dir.file("depth.tiff"), metres));
  const vbu::DepthOptions defaults;
  const Eigen::Isometry3d identity = Eigen::Isometry3d::Identity();
  for (const auto& ctx :
       {vbu::createProjectionContext(metres, model(4, 3), identity, identity, defaults),
        vbu::createProjectionContext(vbu::readDepthImage(dir.file("depth.tiff"), model(4, 3)),
                                     model(4, 3), identity, identity, defaults)}) {
    ASSERT_EQ(ctx.depth.type(), CV_32FC1);
    // Metres as they are (the scale only places the window), NaN no depth.
    const auto points = vbu::projectImagePointsToMap(ctx, {{0, 0}, {320, 240}, {3, 2}});
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].z, 1.25f);
  }
  // The overloads without options keep refusing float images; others refuse other types.
  EXPECT_EQ(coreFailure(metres, model(4, 3)), "Depth image must be CV_16UC1, actual type=5");
  const auto eight_bit = [&] {
    vbu::createProjectionContext(depthImage(3, 4, CV_8UC1), model(4, 3), identity, identity,
                                 defaults);
  };
  EXPECT_EQ(runtimeErrorText(eight_bit), "Depth image must be CV_16UC1 or CV_32FC1, actual type=0");
  // The entry reports the documented checks as InputError too, with a reason.
  EXPECT_EQ(inputErrorReason(eight_bit), Reason::kUnsupported);

  // A TUM RGB-D frame stores 5000 units per metre: raw 7650 on the optical axis is 1.53 m.
  vbu::DepthOptions tum;
  tum.depth_scale = 1 / 5000.0;
  const auto ctx = vbu::createProjectionContext(depthImage(480, 640) = 7650, model(640, 480),
                                                identity, identity, tum);
  EXPECT_FLOAT_EQ(vbu::projectImagePointsToArmBase(ctx, {{320, 240}}).at(0).z, 1.53f);
}

TEST(ProjectionContextChecks, RefuseInputsThatWouldGiveNonFinitePoints) {
  const auto failure = [](vbu::CameraModel m, const Eigen::Matrix4d& camera_to_arm_base,
                          const Eigen::Matrix4d& arm_base_to_map, double depth_scale = 0.001) {
    vbu::DepthOptions options;
    options.depth_scale = depth_scale;
    return runtimeErrorText([&] {
      vbu::createProjectionContext(depthImage(480, 640), m, Eigen::Isometry3d(camera_to_arm_base),
                                   Eigen::Isometry3d(arm_base_to_map), options);
    });
  };
  const Eigen::Matrix4d identity = Eigen::Matrix4d::Identity();
  vbu::CameraModel m = model(640, 480);
  m.fx = 1e-320;  // denormal: passes fx > 0, yet 1 / fx is infinite
  EXPECT_EQ(failure(m, identity, identity),
            "camera_intrinsics invalid: fx=1e-320 is not a finite normal number");
  // The documented checks keep their precedence: the image is looked at first.
  EXPECT_EQ(coreFailure(cv::Mat(), m), "Depth image is empty");
  m = model(640, 480);
  m.fy = INFINITY;
  EXPECT_EQ(failure(m, identity, identity),
            "camera_intrinsics invalid: fy=inf is not a finite normal number");
  m = model(640, 480);
  m.cx = std::nan("");
  EXPECT_EQ(failure(m, identity, identity), "camera_intrinsics invalid: cx=nan is not finite");
  m = model(640, 480);
  m.fx = 1e-300;  // normal, but every point lands 1e+300 m away
  EXPECT_TRUE(startsWith(failure(m, identity, identity),
                         "camera_to_arm_base out of range: points could reach 2.09"));

  Eigen::Matrix4d not_finite = identity;
  not_finite(0, 3) = INFINITY;
  EXPECT_EQ(failure(model(640, 480), identity, not_finite),
            "arm_base_to_map invalid: entry (0,3)=inf is not finite");
  // Beyond the documented checks every form throws InputError, naming the input.
  try {
    vbu::createProjectionContext(depthImage(480, 640), model(640, 480), identity, not_finite, 0, 1,
                                 kLogger);
    ADD_FAILURE() << "no exception";
  } catch (const vbu::InputError& e) {
    EXPECT_EQ(e.reason(), Reason::kNotFinite);
    EXPECT_EQ(e.input(), "arm_base_to_map");
  }
  not_finite(0, 3) = 0;
  not_finite(1, 1) = std::nan("");
  EXPECT_EQ(failure(model(640, 480), not_finite, identity),
            "camera_to_arm_base invalid: entry (1,1)=nan is not finite");
  EXPECT_EQ(failure(model(640, 480), translation(1e300, 0, 0), identity),
            "camera_to_arm_base out of range: points could reach 1e+300 m along an axis, "
            "1e+38 m or more is refused");
  EXPECT_EQ(failure(model(640, 480), identity, translation(0, -1e300, 0)),
            "camera_to_map (arm_base_to_map * camera_to_arm_base) out of range: points could "
            "reach 1e+300 m along an axis, 1e+38 m or more is refused");
  // The JSON form a tool reads is checked the same way.
  const json far = {{"translation", {0, 0, 1e300}}, {"rotation", {1, 0, 0, 0}}};
  const json near = {{"translation", {0, 0, 0}}, {"rotation", {1, 0, 0, 0}}};
  EXPECT_TRUE(startsWith(runtimeErrorText([&] {
                           vbu::createProjectionContext(depthImage(4, 4), model(4, 4), near, far, 1,
                                                        10000, kLogger);
                         }),
                         "camera_to_map (arm_base_to_map * camera_to_arm_base) out of range"));

  for (const double scale : {0.0, -0.001, std::nan(""), HUGE_VAL, 1e-310}) {
    EXPECT_TRUE(
        startsWith(failure(model(640, 480), identity, identity, scale), "depth_scale invalid: "));
  }
  EXPECT_EQ(failure(model(640, 480), identity, identity, 0.0),
            "depth_scale invalid: 0 is not a finite positive normal number");

  // Just inside the limit every point is still finite.
  const auto edge =
      vbu::createProjectionContext(depthImage(480, 640) = 65535, model(640, 480),
                                   translation(9.9e37, 0, 0), identity, 0, 65535, kLogger);
  for (const auto& p : vbu::projectImagePointsToMap(edge, {{0, 0}, {639, 479}})) {
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
  }
}
