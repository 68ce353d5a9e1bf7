// SPDX-License-Identifier: Apache-2.0
// Checks of a camera file's CameraInfo against the pinhole model that the projection applies;
// internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__CAMERA_MODEL_CHECKS_HPP_
#define VANTOREL_BASE_UTILS__IO__CAMERA_MODEL_CHECKS_HPP_

#include <string>
#include <vector>

#include <sensor_msgs/msg/camera_info.hpp>

namespace vantorel_base_utils {

// Largest image side a camera file may give; far above any camera, far below what would
// overflow.
constexpr long long kMaxCameraImageSide = 1'000'000;

// What a camera file calls the message's members, so that a message names what the user
// wrote: "camera_matrix.data", "k" or "K" (an entry is "k[4]"), "image_width" or "width".
struct CameraFieldNames {
  std::string k;
  std::string p;
  std::string d;
  std::string width;
  std::string height;
};

// Refuses what the projection would silently get wrong, with an InputError whose message
// names the field, its value and the remedy (the caller adds the file's name):
//   - an entry of k, p or d that is not a finite number (kNotFinite);
//   - a k or p not of the pinhole form [fx 0 cx; 0 fy cy; 0 0 1] and [fx 0 cx Tx; 0 fy cy Ty;
//     0 0 1 0]: a last row other than 0 0 1 (0 0 1 0), or a 0 elsewhere that is not
//     (kMalformed), or a skew in k[1] or p[1] (kUnsupported);
//   - a negative focal length, as ICL-NUIM's files give fy to flip the y axis (kUnsupported),
//     or one of 0 (kOutOfRange);
//   - a principal point more than one image side beyond the image's edge (kOutOfRange).
// A k or p that is all zero is not given (ROS's mark of an uncalibrated camera, the message's
// default projection matrix) and is not checked. p's Tx and Ty are not checked: they place a
// second camera of a stereo pair, and a depth image is lifted in its own camera's frame.
// Returns what is accepted but changes what the points mean: one warning when the distortion
// coefficients are not all zero, since the projection takes the depth image as rectified.
std::vector<std::string> checkPinholeCamera(const sensor_msgs::msg::CameraInfo& info,
                                            const CameraFieldNames& names);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__CAMERA_MODEL_CHECKS_HPP_
