// SPDX-License-Identifier: Apache-2.0
// Depth image files read for a camera, the file's header checked against the camera before
// anything is decoded: the depth input of createProjectionContext.
#ifndef VANTOREL_BASE_UTILS__DEPTH_IMAGE_FILE_HPP_
#define VANTOREL_BASE_UTILS__DEPTH_IMAGE_FILE_HPP_

#include <cstddef>
#include <cstdint>
#include <string>

#include <opencv2/core/mat.hpp>

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Largest depth image file read: a 4096 x 4096 float image stored uncompressed.
constexpr std::size_t kMaxDepthFileBytes = std::size_t{64} << 20;

// Largest image decoded for a camera that states no size (width or height 0): 8192 x 8192.
constexpr std::uint64_t kMaxDepthImagePixels = std::uint64_t{1} << 26;

// The depth image of the file at `path`: a 16-bit greyscale PNG or binary PGM (raw depth
// units, CV_16UC1), or a single-channel TIFF of 16-bit unsigned (CV_16UC1) or 32-bit float
// (CV_32FC1, metres) samples. Other formats are refused: OpenCV reads PFM and OpenEXR from
// memory only through a temporary file.
//
// The file must be a regular file of at most kMaxDepthFileBytes. Its header is read first:
// the sample type must be depth, and the size must be the camera's (a width or height of 0
// in the camera is not checked; the image may then hold at most kMaxDepthImagePixels), and a
// TIFF's strips or tiles no larger than the image. Only then is it decoded, so a small file
// cannot make the decoder allocate an image the camera never had. A damaged PNG may still
// make libpng, inside OpenCV, print its own "libpng error" line to standard error.
//
// Throws InputError whose message starts with the path, by reason:
//   kUnreadable: "<path>: cannot open file: No such file or directory", "<path>: not a
//     regular file", "<path>: larger than 67108864 bytes";
//   kUnsupported: "<path>: not a depth image (a 16-bit greyscale PNG or PGM, or 32-bit float
//     metres as a single-channel TIFF)", "<path>: depth image must be 16-bit single
//     channel, got a PNG of bit depth 8 and colour type 0", and for TIFF samples and decoded
//     types alike;
//   kSizeMismatch: "<path>: depth image is 8192x8192 but the calibration says 640x480";
//   kOverLimit: "<path>: depth image is 9000x9000, more than the 67108864 pixels read for a
//     camera that states no size";
//   kMalformed: "<path>: TIFF strips or tiles larger than the image", "<path>: not an image
//     OpenCV can read".
VANTOREL_BASE_UTILS_PUBLIC cv::Mat readDepthImage(const std::string& path,
                                                  const CameraModel& camera);

// The same with a bound of the caller's own on the image's pixels, checked on the header
// before anything is decoded (after the camera's size) and whatever size the camera states:
// kOverLimit "<path>: depth image is 30000x30000, more than the 8388608 pixels allowed".
VANTOREL_BASE_UTILS_PUBLIC cv::Mat readDepthImage(const std::string& path,
                                                  const CameraModel& camera,
                                                  std::uint64_t max_pixels);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DEPTH_IMAGE_FILE_HPP_
