// SPDX-License-Identifier: Apache-2.0
// Base64 PNG codec for detection masks; internal to the library.
#ifndef VANTOREL_BASE_UTILS__DETECTION__MASK_CODEC_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__MASK_CODEC_HPP_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// Largest decoded mask, in pixels (8192 x 8192 at one byte each): far above any camera
// frame we serve, far below what a few kilobytes of hostile PNG could otherwise demand.
constexpr std::uint64_t kMaxMaskPixels = std::uint64_t{1} << 26;

// What a caller allows one mask to take, checked against the image's header before decoding.
struct MaskLimits {
  cv::Size frame;  // larger masks are refused; empty: the frame is not known
  // A whole-frame class mask: one of any other size than `frame` is refused, since windows
  // cut from it by image coordinates would take the wrong pixels or none.
  bool whole_frame = false;
  std::uint64_t pixels_left = std::numeric_limits<std::uint64_t>::max();  // of the call's budget
};

struct DeclaredSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// The size a PNG, JPEG or BMP header declares; nothing for other data or a header cut short.
std::optional<DeclaredSize> declaredImageSize(const std::vector<std::uint8_t>& bytes);

// Lenient: skips characters outside the standard alphabet and stops at the first '='.
std::vector<std::uint8_t> decodeBase64(const std::string& text);
std::string encodeBase64(const std::uint8_t* data, std::size_t size);

// Decodes PNG, JPEG or BMP to an 8-bit single-channel image, never empty, exactly as the
// image library's grayscale decoding does with orientation tags ignored: the pixels as
// stored. Throws std::runtime_error "<label> is empty or invalid Base64" or "<label> PNG
// decode failed", the latter also for other formats and for images declaring more than
// kMaxMaskPixels; and InputError naming the sizes for images beyond `limits`
// (kSizeMismatch: larger than the frame, or a whole-frame mask of another size; kOverLimit:
// beyond the budget), before anything is allocated for them.
cv::Mat decodeMaskBase64(const std::string& text, const std::string& label,
                         const MaskLimits& limits);
cv::Mat decodeMaskBase64(const std::string& text, const std::string& label);

// PNG with the image library's defaults, then standard Base64. Throws std::runtime_error
// "failed to encode instance ROI mask".
std::string encodeMaskBase64(const cv::Mat& mask);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__MASK_CODEC_HPP_
