// Camera calibration files read into sensor_msgs/CameraInfo messages.
#ifndef VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
#define VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_

#include <string>

#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Reads the camera_calibration YAML file that ROS camera calibration writes (image_width,
// image_height, camera_name, camera_matrix, distortion_model, distortion_coefficients,
// rectification_matrix, projection_matrix; each matrix a mapping whose "data" lists its
// entries row by row) into a CameraInfo message for cameraModelFromCameraInfo.
//
// header.frame_id takes camera_name ("" when absent); image_width and image_height are
// required, 0 to 1,000,000; camera_matrix is required. Absent, the other members give
// distortion_model "plumb_bob", no distortion coefficients, the identity rectification and
// an all-zero projection matrix (the camera model then takes its intrinsics from k).
//
// Throws std::runtime_error "<path>: cannot open file", or "<path>: not a camera
// calibration: <reason>" for unreadable YAML and missing or malformed members. The YAML
// reader logs its own failures through `logger` (see readYaml).
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(
    const std::string& path, const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
