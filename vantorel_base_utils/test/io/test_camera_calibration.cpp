// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "support/input_error_reason.hpp"
#include "support/log_capture.hpp"
#include "support/runtime_error_text.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"

namespace vbu = vantorel_base_utils;
using vantorel_test::runtimeErrorText;
using Reason = vantorel_base_utils::InputError::Reason;
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
          "projection_matrix: {rows: 3, cols: 4, data: [520, 0, 320, -41.6, 0, 521, 240, 0.5, 0, "
          "0, 1, 0]}\n");
  const auto info = vbu::cameraInfoFromCalibrationFile(path, kLogger);
  EXPECT_EQ(info.header.frame_id, "front");
  EXPECT_EQ(info.width, 640u);
  EXPECT_EQ(info.height, 480u);
  EXPECT_EQ(info.distortion_model, "rational_polynomial");
  EXPECT_EQ(info.d, std::vector<double>({0.1, -0.2}));
  EXPECT_EQ(info.k, (std::array<double, 9>{525, 0, 319.5, 0, 526, 239.5, 0, 0, 1}));
  EXPECT_EQ(info.r, (std::array<double, 9>{0, 1, 0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(info.p, (std::array<double, 12>{520, 0, 320, -41.6, 0, 521, 240, 0.5, 0, 0, 1, 0}));
}

TEST(CameraCalibrationFile, AbsentOptionalMembersTakeTheirDefaults) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  writeFile(path, "image_width: 640\nimage_height: 480\n" + kCameraMatrix);
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
  const auto read = [&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); };
  const auto failure = [&] { return runtimeErrorText(read); };
  EXPECT_EQ(failure(), path + ": cannot open file");
  EXPECT_EQ(vantorel_test::inputErrorReason(read), Reason::kUnreadable);

  writeFile(path, "image_width: 640\nimage_height: 480\ncamera_matrix: {data: [1, 2]}\n");
  EXPECT_EQ(failure(), path + ": not a camera calibration: camera_matrix.data must hold 9 numbers");
  EXPECT_EQ(vantorel_test::inputErrorReason(read), Reason::kMalformed);
  writeFile(path, "image_width: -1\nimage_height: 3\n" + kCameraMatrix);
  EXPECT_EQ(failure(), path + ": not a camera calibration: image_width out of range");
  EXPECT_EQ(vantorel_test::inputErrorReason(read), Reason::kOutOfRange);
  writeFile(path, "image_width: 4\n" + kCameraMatrix);
  EXPECT_EQ(failure().rfind(path + ": not a camera calibration: ", 0), 0u) << failure();
}

TEST(CameraCalibrationFile, NamesAreTakenAsWrittenAndNumbersStrictly) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  writeFile(path, "image_width: 640\nimage_height: 480\ncamera_name: \"0815\"\n" + kCameraMatrix +
                      "distortion_model: on\n");
  auto info = vbu::cameraInfoFromCalibrationFile(path, kLogger);
  EXPECT_EQ(info.header.frame_id, "0815");
  EXPECT_EQ(info.distortion_model, "on");
  writeFile(path, "image_width: 640\nimage_height: 480\ncamera_name: 0815\n" + kCameraMatrix);
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
  writeFile(big, "image_width: 640\nimage_height: 480\n" + kCameraMatrix + "# " +
                     std::string(vbu::kMaxCalibrationFileBytes, 'x') + "\n");
  EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(big, kLogger); }),
            big + ": larger than 1048576 bytes");
  ::alarm(0);
}

namespace {

// One camera in the three forms, as camera calibration writes it and as ros2 topic echo
// and rostopic echo print its CameraInfo.
const char* const kCalibration = R"(image_width: 640
image_height: 480
camera_name: rgb_optical
camera_matrix:
  rows: 3
  cols: 3
  data: [520.9, 0, 325.1, 0, 521.0, 249.7, 0, 0, 1]
distortion_model: plumb_bob
distortion_coefficients:
  rows: 1
  cols: 5
  data: [0.2312, -0.7849, -0.0033, -0.0001, 0.9172]
rectification_matrix:
  rows: 3
  cols: 3
  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]
projection_matrix:
  rows: 3
  cols: 4
  data: [520.9, 0, 325.1, 0, 0, 521.0, 249.7, 0, 0, 0, 1, 0]
)";

const char* const kRos2Echo = R"(header:
  stamp:
    sec: 1305031102
    nanosec: 160407000
  frame_id: rgb_optical
height: 480
width: 640
distortion_model: plumb_bob
d:
- 0.2312
- -0.7849
- -0.0033
- -0.0001
- 0.9172
k:
- 520.9
- 0.0
- 325.1
- 0.0
- 521.0
- 249.7
- 0.0
- 0.0
- 1.0
r:
- 1.0
- 0.0
- 0.0
- 0.0
- 1.0
- 0.0
- 0.0
- 0.0
- 1.0
p:
- 520.9
- 0.0
- 325.1
- 0.0
- 0.0
- 521.0
- 249.7
- 0.0
- 0.0
- 0.0
- 1.0
- 0.0
binning_x: 0
binning_y: 0
roi:
  x_offset: 0
  y_offset: 0
  height: 0
  width: 0
  do_rectify: false
---
)";

const char* const kRos1Echo = R"(header: 
  seq: 42
  stamp: 
    secs: 1305031102
    nsecs: 160407000
  frame_id: "rgb_optical"
height: 480
width: 640
distortion_model: "plumb_bob"
D: [0.2312, -0.7849, -0.0033, -0.0001, 0.9172]
K: [520.9, 0.0, 325.1, 0.0, 521.0, 249.7, 0.0, 0.0, 1.0]
R: [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
P: [520.9, 0.0, 325.1, 0.0, 0.0, 521.0, 249.7, 0.0, 0.0, 0.0, 1.0, 0.0]
binning_x: 0
binning_y: 0
roi: 
  x_offset: 0
  y_offset: 0
  height: 0
  width: 0
  do_rectify: False
---
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

}  // namespace

TEST(CameraFile, TheThreeFormsOfOneCameraReadToTheSameMessage) {
  TempDir dir;
  const auto read = [&](const char* name, const std::string& text) {
    writeFile(dir.file(name), text);
    return vbu::cameraInfoFromFile(dir.file(name), kLogger);
  };
  const auto calibration = read("calibration.yaml", kCalibration);
  auto ros2 = read("ros2.yaml", kRos2Echo);
  auto ros1 = read("ros1.yaml", kRos1Echo);
  EXPECT_EQ(calibration, vbu::cameraInfoFromCalibrationFile(dir.file("calibration.yaml"), kLogger));
  // Only the recorded messages carry a time.
  EXPECT_EQ(ros2.header.stamp, ros1.header.stamp);
  EXPECT_EQ(ros2.header.stamp.sec, 1305031102);
  EXPECT_EQ(ros2.header.stamp.nanosec, 160407000u);
  ros2.header.stamp = ros1.header.stamp = calibration.header.stamp;
  EXPECT_EQ(ros2, calibration);
  EXPECT_EQ(ros1, calibration);
  EXPECT_EQ(calibration.k, (std::array<double, 9>{520.9, 0, 325.1, 0, 521.0, 249.7, 0, 0, 1}));
  EXPECT_EQ(calibration.header.frame_id, "rgb_optical");

  // The members the calibration form lacks.
  const auto roi = read("roi.yaml", replaced(replaced(kRos2Echo, "  width: 0", "  width: 320"),
                                             "binning_y: 0", "binning_y: 2"));
  EXPECT_EQ(roi.roi.width, 320u);
  EXPECT_EQ(roi.binning_y, 2u);
}

TEST(CameraFile, FailuresNameTheFileTheFormAndTheMember) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  const auto failure = [&](const std::string& text) {
    writeFile(path, text);
    return runtimeErrorText([&] { vbu::cameraInfoFromFile(path, kLogger); });
  };
  const std::string ros2 = path + ": not a CameraInfo message as ros2 topic echo prints it: ";
  EXPECT_EQ(failure(replaced(kRos2Echo, "k:", "kk:")), ros2 + "k is missing");
  EXPECT_EQ(failure(replaced(kRos2Echo, "- 249.7\n", "")), ros2 + "k must hold 9 numbers");
  EXPECT_EQ(failure(replaced(kRos2Echo, "  width: 0", "  width: -1")),
            ros2 + "roi.width out of range");
  EXPECT_EQ(failure(replaced(kRos2Echo, "height: 480", "height: 480.5")),
            ros2 + "height must be a whole number");
  EXPECT_EQ(failure(replaced(kRos2Echo, "    sec: 1305031102", "    sec: soon")),
            ros2 + "header.stamp.sec must be a whole number");
  EXPECT_EQ(
      failure(replaced(kRos1Echo, "0.0, 0.0, 1.0]\nR", "0.0, x, 1.0]\nR")),
      path + ": not a CameraInfo message as rostopic echo prints it: K must hold only numbers");
  // A lower-case matrix beside the upper-case ones would be one of two values for K.
  EXPECT_EQ(failure(replaced(kRos1Echo, "---\n", "k: [1]\n---\n")),
            path +
                ": not a camera file: holds both upper-case (ROS 1: K, D, R, P) and lower-case "
                "(ROS 2: k, d, r, p) matrices");
  EXPECT_EQ(failure("image: depth.png\n"),
            path +
                ": not a camera file: holds none of image_width (camera calibration YAML), k "
                "(CameraInfo as ros2 topic echo prints it) or K (as rostopic echo prints it)");
  // Broken YAML gives line and column; the parser's own text never reaches the message.
  EXPECT_EQ(failure("height: 480\nk: [1, 2\n"),
            path + ": not a camera file: not valid YAML (line 3, column 1)");

  // The calibration reader says what the file is instead.
  writeFile(path, kRos2Echo);
  EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); }),
            path +
                ": not a camera calibration: image_width is missing (the file is a CameraInfo "
                "message, which cameraInfoFromFile reads)");
}

// What yaml-cpp's node tree would silently drop: the second of two equal keys, a second
// document, the members of a second form beside the first.
TEST(CameraFile, RefusesWhatAReaderWouldSilentlyDrop) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  const auto failure = [&](const std::string& text) {
    writeFile(path, text);
    return runtimeErrorText([&] { vbu::cameraInfoFromFile(path, kLogger); });
  };
  const std::string remedy =
      ": a camera file gives one camera, each member once (ros2 topic echo --once saves one "
      "message)";
  EXPECT_EQ(failure(std::string(kCalibration) + "camera_name: left\n"),
            path + ": not a camera file: camera_name is given twice (lines 3 and 21)" + remedy);
  EXPECT_EQ(
      failure(replaced(kCalibration, "  cols: 3\n", "  cols: 3\n  rows: 3\n")),
      path + ": not a camera file: camera_matrix.rows is given twice (lines 5 and 7)" + remedy);
  EXPECT_EQ(failure(std::string(kRos2Echo) + kRos2Echo),
            path + ": not a camera file: a second YAML document begins at line 56" + remedy);
  EXPECT_EQ(vantorel_test::inputErrorReason([&] { vbu::cameraInfoFromFile(path, kLogger); }),
            Reason::kMalformed);
  // yaml-cpp reports a stray top-level "," as one empty document after another, forever.
  EXPECT_EQ(failure(",\nheight: 480\n"),
            path + ": not a camera file: not valid YAML (line 1, column 1)");

  const std::string mixed =
      "holds camera_matrix of the camera calibration YAML beside k of a "
      "CameraInfo message; one form is read and the other's members would "
      "be ignored: keep one form";
  const std::string k_line = "k: [1, 0, 0, 0, 1, 0, 0, 0, 1]\n";
  EXPECT_EQ(failure(kCalibration + k_line), path + ": not a camera file: " + mixed);
  EXPECT_EQ(failure(replaced(kRos2Echo, "binning_x", kCameraMatrix + "binning_x")),
            path + ": not a camera file: " + mixed);
  writeFile(path, kCalibration + k_line);
  EXPECT_EQ(runtimeErrorText([&] { vbu::cameraInfoFromCalibrationFile(path, kLogger); }),
            path + ": not a camera calibration: " + mixed);
}

// Each would place points wrongly with exit status 0 if read as the projection reads a camera:
// the message names the field as the file names it, its value and what to do.
TEST(CameraFile, RefusesCamerasOutsideThePinholeModel) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  const auto refusal = [&](const std::string& text, Reason reason) {
    writeFile(path, text);
    const auto read = [&] { vbu::cameraInfoFromFile(path, kLogger); };
    EXPECT_EQ(vantorel_test::inputErrorReason(read), reason);
    const std::string message = runtimeErrorText(read);
    return message.rfind(path + ": ", 0) == 0 ? message.substr(path.size() + 2) : message;
  };
  const std::string k = "K: [520.9, 0.0, 325.1, 0.0, 521.0, 249.7, 0.0, 0.0, 1.0]";
  const std::string p = "P: [520.9, 0.0, 325.1, 0.0, 0.0, 521.0, 249.7, 0.0, 0.0, 0.0, 1.0, 0.0]";
  const auto withK = [&](const std::string& line) { return replaced(kRos1Echo, k, line); };
  const auto withP = [&](const std::string& line) { return replaced(kRos1Echo, p, line); };

  EXPECT_EQ(
      refusal(withK("K: [520.9, 0.5, 325.1, 0, 521.0, 249.7, 0, 0, 1]"), Reason::kUnsupported),
      "K[1] is 0.5, but a camera matrix is fx 0 cx, 0 fy cy, 0 0 1: a skew between the "
      "pixel axes, which the projection does not model; calibrate with the skew fixed at "
      "0, as ROS camera calibration does");
  EXPECT_EQ(refusal(withP("P: [520.9, 0.2, 325.1, 0, 0, 521.0, 249.7, 0, 0, 0, 1, 0]"),
                    Reason::kUnsupported)
                .substr(0, 15),
            "P[1] is 0.2, bu");
  EXPECT_EQ(
      refusal(withP("P: [520.9, 0, 325.1, 0, 0, 521.0, 249.7, 0, 0, 1, 1, 0]"), Reason::kMalformed),
      "P[9] is 1, but a projection matrix is fx 0 cx Tx, 0 fy cy Ty, 0 0 1 0: write it in "
      "that form");
  EXPECT_EQ(refusal(withK("K: [1041.8, 0, 650.2, 0, 1042.0, 499.4, 0, 0, 2]"), Reason::kMalformed),
            "K[8] is 2, but a camera matrix is fx 0 cx, 0 fy cy, 0 0 1: if the matrix was "
            "scaled, divide every entry by 2");
  EXPECT_EQ(refusal(withK("K: [520.9, 0, 1e30, 0, 521.0, 249.7, 0, 0, 1]"), Reason::kOutOfRange),
            "K[2] (cx) is 1e+30, more than one image side (width 640 pixels) beyond the image's "
            "edge, where a camera's principal point lies in or near its image: check that it is "
            "this camera's cx in pixels");
  EXPECT_EQ(refusal(withK("K: [.nan, 0, 325.1, 0, 521.0, 249.7, 0, 0, 1]"), Reason::kNotFinite),
            "K[0] is nan, not a finite number");
  // ICL-NUIM's intrinsics, with the projection matrix left at its default.
  EXPECT_EQ(refusal(replaced(withK("K: [481.2, 0, 319.5, 0, -480.0, 239.5, 0, 0, 1]"), p,
                             "P: [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]"),
                    Reason::kUnsupported),
            "K[4] (fy) is -480, a negative focal length, which flips the y axis as ICL-NUIM's "
            "camera files do; the projection takes the ROS camera convention (x right, y down, "
            "z forward, focal lengths above 0), and with a flipped axis every point would land "
            "mirrored: pass fy = 480 and give camera_to_arm_base for the y-down camera frame");

  // rows and cols that are not the data's shape.
  EXPECT_EQ(
      refusal(replaced(kCalibration, "  cols: 3\n  data: [520.9", "  cols: 4\n  data: [520.9"),
              Reason::kMalformed),
      "not a camera calibration: camera_matrix.cols is 4, but camera_matrix is 3x3 (its "
      "data holds 9 numbers): write cols: 3");
  EXPECT_EQ(refusal(replaced(kCalibration, "cols: 5", "cols: 8"), Reason::kMalformed),
            "not a camera calibration: distortion_coefficients.cols is 8, but its data holds 5 "
            "numbers: write rows: 1 and cols: 5");
}

// The projection ignores distortion: the caller hears so once, through its own logger.
TEST(CameraFile, DistortionIsAcceptedWithOneWarning) {
  TempDir dir;
  const std::string path = dir.file("camera.yaml");
  vantorel_test::LogCapture capture;
  writeFile(path, kRos2Echo);
  EXPECT_EQ(vbu::cameraInfoFromFile(path, kLogger).d.size(), 5U);
  ASSERT_EQ(capture.records().size(), 1U);
  EXPECT_EQ(capture.records()[0].severity, RCUTILS_LOG_SEVERITY_WARN);
  EXPECT_EQ(capture.records()[0].text.rfind(path + ": d holds distortion coefficients that are "
                                                   "not all zero (d[0] = 0.2312): the projection "
                                                   "takes the depth image as rectified",
                                            0),
            0U)
      << capture.records()[0].text;
  capture.clear();
  writeFile(path, replaced(kRos1Echo, "D: [0.2312, -0.7849, -0.0033, -0.0001, 0.9172]",
                           "D: [0, 0, 0, 0, 0]"));
  vbu::cameraInfoFromFile(path, kLogger);
  EXPECT_TRUE(capture.records().empty());
}
