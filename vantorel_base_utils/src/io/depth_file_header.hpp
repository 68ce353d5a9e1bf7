// SPDX-License-Identifier: Apache-2.0
// What a depth image file declares in its header, read before anything is decoded; internal
// to the library.
#ifndef VANTOREL_BASE_UTILS__IO__DEPTH_FILE_HEADER_HPP_
#define VANTOREL_BASE_UTILS__IO__DEPTH_FILE_HEADER_HPP_

#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>

namespace vantorel_base_utils {
namespace depth_file {

struct DepthHeader {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  // Why its samples are no depth (8-bit, colour, ...); empty when they are depth.
  std::string not_depth;
  // Why it is broken, or would make the decoder allocate beyond the image; empty when not.
  std::string broken;
};

// The header of a PNG, a binary PGM or a TIFF file; nothing for any other data.
//   PNG: 16-bit greyscale is depth.
//   PGM (P5): a maximum above 255, so 16-bit samples, is depth.
//   TIFF (first directory): one channel of 16-bit unsigned or 32-bit float samples is depth,
//     with strips and tiles no larger than the image (the decoder allocates one before it
//     reads any pixel).
std::optional<DepthHeader> depthHeaderOf(const std::string& bytes);

// The image cv::imdecode gives for the bytes with IMREAD_UNCHANGED (so 16-bit samples stay
// 16-bit); empty for data it cannot decode or refuses by throwing. PNG data goes through
// silent_png, so that libpng prints nothing about it.
cv::Mat decodeUnchanged(const std::string& bytes);

}  // namespace depth_file
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__DEPTH_FILE_HEADER_HPP_
