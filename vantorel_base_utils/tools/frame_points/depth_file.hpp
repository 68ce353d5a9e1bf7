// SPDX-License-Identifier: Apache-2.0
// The depth image of a frame from its file's bytes.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__DEPTH_FILE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__DEPTH_FILE_HPP_

#include <string>

#include <opencv2/core.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

namespace vantorel_tools {

// A 16-bit greyscale PNG (raw units) or a single-channel 16-bit or 32-bit float TIFF, decoded
// as CV_16UC1 or CV_32FC1. The header is checked against the calibration before anything is
// decoded, so that a small file cannot make the decoder allocate an image the frame never
// had, strips and tiles of a TIFF included. PNG and TIFF are decoded in memory; OpenCV reads
// PFM and OpenEXR from memory only through a temporary file, so those are not taken.
// Throws InputError naming `path`.
cv::Mat decodeDepthFile(const std::string& path, const std::string& bytes,
                        const sensor_msgs::msg::CameraInfo& camera);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__DEPTH_FILE_HPP_
