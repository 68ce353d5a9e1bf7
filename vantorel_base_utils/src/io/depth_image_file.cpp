// SPDX-License-Identifier: Apache-2.0
// Depth image files read for a camera: bounded read, header checks, then decoding.
#include "vantorel_base_utils/depth_image_file.hpp"

#include <limits>
#include <optional>

#include "io/depth_file_header.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_base_utils {

namespace {

using Reason = InputError::Reason;

[[noreturn]] void refuse(Reason reason, const std::string& path, const std::string& what) {
  throw InputError(reason, path, path + ": " + what);
}

// A side of 0 in the camera is not known, so not compared.
bool fitsCamera(std::uint64_t width, std::uint64_t height, const CameraModel& camera) {
  return (camera.width == 0 || width == camera.width) &&
         (camera.height == 0 || height == camera.height);
}

void checkSize(const std::string& path, std::uint64_t width, std::uint64_t height,
               const CameraModel& camera, std::uint64_t max_pixels) {
  if (!fitsCamera(width, height, camera)) {
    refuse(Reason::kSizeMismatch, path,
           "depth image is " + std::to_string(width) + "x" + std::to_string(height) +
               " but the calibration says " + std::to_string(camera.width) + "x" +
               std::to_string(camera.height));
  }
  if (width * height > max_pixels) {  // sides fit in 32 bits
    refuse(Reason::kOverLimit, path,
           "depth image is " + std::to_string(width) + "x" + std::to_string(height) +
               ", more than the " + std::to_string(max_pixels) + " pixels allowed");
  }
  const bool size_stated = camera.width != 0 && camera.height != 0;
  if (!size_stated && width * height > kMaxDepthImagePixels) {  // sides fit in 32 bits
    refuse(Reason::kOverLimit, path,
           "depth image is " + std::to_string(width) + "x" + std::to_string(height) +
               ", more than the " + std::to_string(kMaxDepthImagePixels) +
               " pixels read for a camera that states no size");
  }
}

std::string readBytes(const std::string& path) {
  try {
    return readRegularFile(path, kMaxDepthFileBytes);
  } catch (const FileReadError& e) {
    refuse(Reason::kUnreadable, path, e.what());
  }
}

}  // namespace

cv::Mat readDepthImage(const std::string& path, const CameraModel& camera) {
  return readDepthImage(path, camera, std::numeric_limits<std::uint64_t>::max());
}

cv::Mat readDepthImage(const std::string& path, const CameraModel& camera,
                       std::uint64_t max_pixels) {
  const std::string bytes = readBytes(path);
  const std::optional<depth_file::DepthHeader> header = depth_file::depthHeaderOf(bytes);
  if (!header) {
    refuse(Reason::kUnsupported, path,
           "not a depth image (a 16-bit greyscale PNG or PGM, or 32-bit float metres as a "
           "single-channel TIFF)");
  }
  if (!header->not_depth.empty()) {
    refuse(Reason::kUnsupported, path, header->not_depth);
  }
  if (!header->broken.empty()) {
    refuse(Reason::kMalformed, path, header->broken);
  }
  checkSize(path, header->width, header->height, camera, max_pixels);
  const cv::Mat depth = depth_file::decodeUnchanged(bytes);
  if (depth.empty()) {
    refuse(Reason::kMalformed, path, "not an image OpenCV can read");
  }
  if (depth.type() != CV_16UC1 && depth.type() != CV_32FC1) {
    refuse(Reason::kUnsupported, path,
           "depth image must be 16-bit or 32-bit float single channel, got OpenCV type " +
               std::to_string(depth.type()));
  }
  checkSize(path, static_cast<std::uint64_t>(depth.cols), static_cast<std::uint64_t>(depth.rows),
            camera, max_pixels);
  return depth;
}

}  // namespace vantorel_base_utils
