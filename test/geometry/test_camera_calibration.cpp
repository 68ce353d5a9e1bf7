#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "support/runtime_error_text.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"

namespace vbu = vantorel_base_utils;
using vantorel_test::runtimeErrorText;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("test_camera_calibration");

const std::string kCameraMatrix =
    "camera_matrix: {rows: 3, cols: 3, data: [525, 0, 319.5, 0, 526, 239.5, 0, 0, 1]}\n";

}  // namespace

TEST(CameraCalibrationFile, ReadsEveryMemberIntoTheMessage) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  writeFile(
      path,
      "image_width: 640\nimage_height: 480\ncamera_name: front\n" + kCameraMatrix +
          "distortion_model: rational_polynomial\n"
          "distortion_coefficients: {rows: 1, cols: 2, data: [0.1, -0.2]}\n"
          "rectification_matrix: {rows: 3, cols: 3, data: [0, 1, 0, 1, 0, 0, 0, 0, 1]}\n"
          "projection_matrix: {rows: 3, cols: 4, data: [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]}\n");
  const auto info = vbu::cameraInfoFromCalibrationFile(path, kLogger);
  EXPECT_EQ(info.header.frame_id, "front");
  EXPECT_EQ(info.width, 640u);
  EXPECT_EQ(info.height, 480u);
  EXPECT_EQ(info.distortion_model, "rational_polynomial");
  EXPECT_EQ(info.d, std::vector<double>({0.1, -0.2}));
  EXPECT_EQ(info.k, (std::array<double, 9>{525, 0, 319.5, 0, 526, 239.5, 0, 0, 1}));
  EXPECT_EQ(info.r, (std::array<double, 9>{0, 1, 0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(info.p, (std::array<double, 12>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(CameraCalibrationFile, AbsentOptionalMembersTakeTheirDefaults) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  writeFile(path, "image_width: 4\nimage_height: 3\n" + kCameraMatrix);
  const auto info = vbu::cameraInfoFromCalibrationFile(path, kLogger);
  EXPECT_EQ(info.header.frame_id, "");
  EXPECT_EQ(info.distortion_model, "plumb_bob");
  EXPECT_TRUE(info.d.empty());
  EXPECT_EQ(info.r, (std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(info.p, (std::array<double, 12>{}));
}

TEST(CameraCalibrationFile, FailuresNameTheFileAndTheReason) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  const auto failure = [&] {
    return runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); });
  };
  EXPECT_EQ(failure(), path + ": cannot open file");

  writeFile(path, "image_width: 4\nimage_height: 3\ncamera_matrix: {data: [1, 2]}\n");
  EXPECT_EQ(failure(), path + ": not a camera calibration: camera_matrix.data must hold 9 numbers");
  writeFile(path, "image_width: -1\nimage_height: 3\n" + kCameraMatrix);
  EXPECT_EQ(failure(), path + ": not a camera calibration: image_width out of range");
  writeFile(path, "image_width: 4\n" + kCameraMatrix);
  EXPECT_EQ(failure().rfind(path + ": not a camera calibration: ", 0), 0u) << failure();
}

TEST(CameraCalibrationFile, NamesAreTakenAsWrittenAndNumbersStrictly) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  writeFile(path, "image_width: 4\nimage_height: 3\ncamera_name: \"0815\"\n" + kCameraMatrix +
                      "distortion_model: on\n");
  auto info = vbu::cameraInfoFromCalibrationFile(path, kLogger);
  EXPECT_EQ(info.header.frame_id, "0815");
  EXPECT_EQ(info.distortion_model, "on");
  writeFile(path, "image_width: 4\nimage_height: 3\ncamera_name: 0815\n" + kCameraMatrix);
  EXPECT_EQ(vbu::cameraInfoFromCalibrationFile(path, kLogger).header.frame_id, "0815");

  writeFile(path, "image_width: 640.7\nimage_height: 3\n" + kCameraMatrix);
  EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); }),
            path + ": not a camera calibration: image_width must be a whole number");
}

// Pipes and devices are refused without waiting on them; large files without parsing them.
TEST(CameraCalibrationFile, OnlyRegularFilesOfCalibrationSizeAreRead) {
  ::alarm(30);  // a read that waits for a writer ends the test instead of hanging it
  TempDir dir;
  const std::string pipe = dir.file("pipe.yaml");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {pipe, std::string("/dev/zero")}) {
    EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); }),
              path + ": not a regular file");
  }
  const std::string big = dir.file("big.yaml");
  writeFile(big, "image_width: 4\nimage_height: 3\n" + kCameraMatrix + "# " +
                     std::string(vbu::kMaxCalibrationFileBytes, 'x') + "\n");
  EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(big, kLogger); }),
            big + ": larger than 1048576 bytes");
  ::alarm(0);
}
