// SPDX-License-Identifier: Apache-2.0
// Grayscale PNG decoding that gives exactly what the image library gives, faster; internal
// to the library.
#ifndef VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__PNG_GRAY_DECODE_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__PNG_GRAY_DECODE_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>

#include <opencv2/core/mat.hpp>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// The image cv::imdecode(bytes, cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION) gives,
// for the PNG files a detector sends: non-interlaced grayscale of 1, 2, 4 or 8 bits made of IHDR,
// IDAT and IEND chunks only, every check sum right, the image data exactly complete. For anything
// else (other kinds, other chunks, any damage) nothing: the caller asks the image library, which
// then decides alone what such a file gives. The caller bounds the declared size beforehand.
std::optional<cv::Mat> decodeGrayPng(const std::uint8_t* data, std::size_t size);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__PNG_GRAY_DECODE_HPP_
