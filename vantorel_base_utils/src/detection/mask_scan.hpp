// SPDX-License-Identifier: Apache-2.0
// The pixel scan of instance masks; internal to the library.
#ifndef VANTOREL_BASE_UTILS__DETECTION__MASK_SCAN_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__MASK_SCAN_HPP_

#include <array>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// Appends {origin_x + column, origin_y + row} for every non-zero byte of an 8-bit
// single-channel mask, row by row from the top, left to right.
void appendSetPixels(const cv::Mat& mask, int origin_x, int origin_y,
                     std::vector<std::array<int, 2>>& out);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__MASK_SCAN_HPP_
