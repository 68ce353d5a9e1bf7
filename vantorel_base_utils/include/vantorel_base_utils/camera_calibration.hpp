// SPDX-License-Identifier: Apache-2.0
// Camera files read into sensor_msgs/CameraInfo messages: camera calibrations and the
// message itself as ROS 2 and ROS 1 print it.
#ifndef VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
#define VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_

#include <cstddef>
#include <string>

#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Largest calibration file read; a calibration holds a few dozen numbers.
constexpr std::size_t kMaxCalibrationFileBytes = std::size_t{1} << 20;

// Reads the camera_calibration YAML file that ROS camera calibration writes (image_width,
// image_height, camera_name, camera_matrix, distortion_model, distortion_coefficients,
// rectification_matrix, projection_matrix; each matrix a mapping whose "data" lists its
// entries row by row) into a CameraInfo message for cameraModelFromCameraInfo.
//
// header.frame_id takes camera_name ("" when absent or null) and distortion_model its member
// ("plumb_bob" when absent or null), both exactly as written, whatever their characters;
// image_width and image_height are required whole numbers, 0 to 1,000,000; camera_matrix is
// required. Absent, the other members give no distortion coefficients, the identity
// rectification and an all-zero projection matrix (the camera model then takes its
// intrinsics from k). Matrix entries are numbers as readYamlToJson types them.
//
// Throws InputError (input_error.hpp) naming the file: kUnreadable for "<path>: cannot open
// file", "<path>: not a regular file" and "<path>: larger than 1048576 bytes"
// (kMaxCalibrationFileBytes); "<path>: not a camera calibration: <reason>" for text that is
// not YAML ("not valid YAML (line 3, column 7)") and for missing or malformed members
// ("camera_matrix.data must hold 9 numbers"), kMalformed, or kOutOfRange for a size outside
// 0 to 1,000,000, or kOverLimit for a document beyond the YAML loading bounds. Nothing is
// logged; `logger` is accepted like the library's other readers take one, and not used.
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(
    const std::string& path, const rclcpp::Logger& logger);

// Reads a camera file of any of three forms, told apart by their members:
//   - the camera_calibration YAML above (image_width, camera_matrix, ...);
//   - a CameraInfo message as `ros2 topic echo --once /camera_info > camera.yaml` saves it:
//     header (frame_id, stamp sec and nanosec), height, width, distortion_model, d, k, r,
//     p, binning_x, binning_y, roi (x_offset, y_offset, height, width, do_rectify), the
//     lists in block or flow style;
//   - the same message as ROS 1's `rostopic echo -n 1` prints it: D, K, R, P upper-case and
//     the stamp as secs and nsecs.
// For the two message forms height, width and k (K) are required, the sizes whole numbers
// from 0 to 1,000,000; absent members keep the message's defaults (all-zero r and p, no
// coefficients, empty names). Names are taken exactly as written. A trailing "---" and
// further messages after the first are ignored.
//
// Throws InputError naming the file and, for bad content, the member, with the reasons of
// cameraInfoFromCalibrationFile: "<path>: not a CameraInfo message as ros2 topic echo prints
// it: k must hold 9 numbers", "<path>: not a camera file: not valid YAML (line 2, column 1)",
// and the file errors above. Nothing is logged.
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::CameraInfo cameraInfoFromFile(const std::string& path);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
