// Camera calibration files read into sensor_msgs/CameraInfo messages.
#ifndef VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
#define VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_

#include <cstddef>
#include <string>

#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

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
// Throws std::runtime_error "<path>: cannot open file", "<path>: not a regular file",
// "<path>: larger than 1048576 bytes" (kMaxCalibrationFileBytes), or "<path>: not a camera
// calibration: <reason>" for unreadable YAML and missing or malformed members. The YAML
// reader logs its own failures through `logger` (see readYaml).
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(
    const std::string& path, const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
