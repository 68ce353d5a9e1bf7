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
// intrinsics from k). Matrix entries are numbers as readYamlToJson types them; a matrix's
// rows and cols may be left out, and when given must be its shape (3x3, 3x4, a row or column
// of as many coefficients as its data holds).
//
// The file is read strictly: one YAML document (a trailing "---" or empty document aside),
// each key once in every mapping, and the members of one form only (a k or height beside
// camera_matrix is refused, not ignored).
//
// The camera must be one the projection lifts pixels with correctly, a plain pinhole camera:
// camera_matrix [fx 0 cx; 0 fy cy; 0 0 1] and projection_matrix [fx 0 cx Tx; 0 fy cy Ty;
// 0 0 1 0] (either may be all zero: not given), every entry finite, no skew, focal lengths
// above 0, the principal point less than one image side beyond the image's edge (it lies in
// or near the image for real cameras, even with a shifted lens or an off-centre crop;
// farther, it is far more likely a unit mix-up or another camera's numbers, and 1e30 would put
// points 1e27 m away; with a size of 0, 1,000,000 pixels). A negative focal length, which some
// datasets (ICL- NUIM) give to flip an image axis, is refused with the convention the projection
// takes and the value to pass instead: taken as written, every point would land mirrored. Non-zero
// distortion coefficients are accepted with one WARN line through `logger` ("<path>:
// distortion_coefficients.data holds distortion coefficients that are not all zero (...): the
// projection takes the depth image as rectified ..."), since the projection ignores them.
//
// Throws InputError (input_error.hpp) naming the file: kUnreadable for "<path>: cannot open
// file", "<path>: not a regular file" and "<path>: larger than 1048576 bytes"
// (kMaxCalibrationFileBytes); "<path>: not a camera calibration: <reason>" for text that is
// not YAML ("not valid YAML (line 3, column 7)"), for what the strict reading refuses
// ("camera_matrix is given twice (lines 4 and 9): ...") and for missing or malformed members
// ("camera_matrix.data must hold 9 numbers"), kMalformed, or kOutOfRange for a size outside
// 0 to 1,000,000, or kOverLimit for a document beyond the YAML loading bounds; and "<path>:
// <field> is <value>, <why>: <remedy>" for a camera outside the pinhole model
// ("camera_matrix.data[1] is 0.5, but a camera matrix is fx 0 cx, 0 fy cy, 0 0 1: a skew
// ..."), kMalformed, kUnsupported (skew, negative focal length), kOutOfRange or kNotFinite.
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
// coefficients, empty names). Names are taken exactly as written. The trailing "---" that
// ends an echoed message is accepted; a second message after it is refused.
//
// Read as strictly as cameraInfoFromCalibrationFile, with the same checks of the camera and
// the same warning (fields named as the file names them: "k[4] (fy) is -480, ..."). Throws
// InputError naming the file and, for bad content, the member, with the reasons of
// cameraInfoFromCalibrationFile: "<path>: not a CameraInfo message as ros2 topic echo prints
// it: k must hold 9 numbers", "<path>: not a camera file: not valid YAML (line 2, column 1)",
// "<path>: not a camera file: holds camera_matrix of the camera calibration YAML beside k of
// a CameraInfo message; ...", and the file errors above.
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::CameraInfo cameraInfoFromFile(
    const std::string& path, const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__CAMERA_CALIBRATION_HPP_
