// SPDX-License-Identifier: Apache-2.0
#include "depth_image_view.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

#include <vantorel_base_utils/input_error.hpp>

namespace vantorel_base_utils_nodes {
namespace {

using vantorel_base_utils::InputError;

[[noreturn]] void refuse(InputError::Reason reason, const std::string& why) {
  throw InputError(reason, "depth_image", "depth_image: " + why);
}

// The OpenCV type of a depth encoding, or -1 when it is not one the projection reads.
int depthType(const std::string& encoding) {
  if (encoding == "16UC1" || encoding == "mono16") {
    return CV_16UC1;
  }
  if (encoding == "32FC1") {
    return CV_32FC1;
  }
  return -1;
}

bool hostIsBigEndian() {
  const std::uint16_t one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 0;
}

}  // namespace

cv::Mat depthImageView(const sensor_msgs::msg::Image& image) {
  const int type = depthType(image.encoding);
  if (type < 0) {
    refuse(InputError::Reason::kUnsupported,
           "encoding \"" + image.encoding + "\" is not 16UC1, mono16 or 32FC1");
  }
  if ((image.is_bigendian != 0) != hostIsBigEndian()) {
    refuse(InputError::Reason::kUnsupported, "byte order is not this machine's");
  }
  if (image.width == 0 || image.height == 0) {
    refuse(InputError::Reason::kSizeMismatch, "the image is empty");
  }
  const std::size_t pixel_bytes = CV_ELEM_SIZE(type);
  const std::size_t row_bytes = std::size_t{image.width} * pixel_bytes;
  if (image.step < row_bytes || image.step % pixel_bytes != 0) {
    refuse(InputError::Reason::kMalformed, "step " + std::to_string(image.step) +
                                               " does not hold a row of " +
                                               std::to_string(image.width) + " pixels of " +
                                               std::to_string(pixel_bytes) + " bytes");
  }
  // The last row needs only its pixels, not a whole step.
  const std::size_t needed = std::size_t{image.step} * (image.height - 1) + row_bytes;
  if (image.data.size() < needed) {
    refuse(InputError::Reason::kSizeMismatch, "data holds " + std::to_string(image.data.size()) +
                                                  " bytes, the " + std::to_string(image.width) +
                                                  "x" + std::to_string(image.height) +
                                                  " image with step " + std::to_string(image.step) +
                                                  " needs " + std::to_string(needed));
  }
  // cv::Mat takes a mutable pointer; the callers only read through it.
  auto* data = const_cast<std::uint8_t*>(image.data.data());
  return cv::Mat(static_cast<int>(image.height), static_cast<int>(image.width), type, data,
                 image.step);
}

}  // namespace vantorel_base_utils_nodes
