// SPDX-License-Identifier: Apache-2.0
// PNG data read through libpng with its messages kept from the console; internal to the
// library.
//
// OpenCV's PNG decoder installs no handlers of its own, so libpng prints "libpng error: ..."
// and "libpng warning: ..." to standard error for damaged data. The library writes nothing
// there itself, so it reads the PNG data it hands to OpenCV with libpng first, silently: what
// libpng refuses is refused without OpenCV, and the one kind of PNG the library decodes in
// bulk from files, 16-bit greyscale depth, is decoded here whole.
#ifndef VANTOREL_BASE_UTILS__IO__SILENT_PNG_HPP_
#define VANTOREL_BASE_UTILS__IO__SILENT_PNG_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>

#include <opencv2/core/mat.hpp>

namespace vantorel_base_utils {
namespace silent_png {

// Whether the data starts with the PNG signature.
bool isPng(const std::uint8_t* data, std::size_t size);

// Whether libpng reads the whole PNG as OpenCV's decoder has it read: the header, every row
// of every pass, and the chunks after the image data up to IEND, without an error. Warnings
// (a damaged ancillary chunk) do not count; OpenCV decodes such data all the same, and lets
// libpng print them.
bool readsWithoutError(const std::uint8_t* data, std::size_t size);

// A 16-bit greyscale PNG decoded exactly as cv::imdecode decodes it with IMREAD_UNCHANGED
// (CV_16UC1, samples in the host's byte order), without printing anything: an empty image
// when libpng refuses the data or OpenCV would refuse its size (a side beyond 2^20, more than
// 2^30 pixels). Nothing for other data, which the caller decodes otherwise.
std::optional<cv::Mat> decodeSixteenBitGray(const std::uint8_t* data, std::size_t size);

}  // namespace silent_png
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__SILENT_PNG_HPP_
