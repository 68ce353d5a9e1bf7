// SPDX-License-Identifier: Apache-2.0
// The pixel scan of instance masks.
#include "detection/mask_scan.hpp"

#include <cstdint>
#include <cstring>

#include <opencv2/core.hpp>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// Word-at-a-time over the zero runs that make up most of a mask. Inside a word with set
// bytes every candidate is written and the cursor advances only past set ones, so mixed
// words cost no branch per byte; the count taken first sizes the output exactly.
void appendSetPixels(const cv::Mat& mask, int origin_x, int origin_y,
                     std::vector<std::array<int, 2>>& out) {
  const std::size_t start = out.size();
  const auto set_count = static_cast<std::size_t>(cv::countNonZero(mask));
  out.resize(start + set_count + 1);  // one spare slot for the last candidate write
  std::array<int, 2>* next = out.data() + start;
  const int cols = mask.cols;
  for (int r = 0; r < mask.rows; ++r) {
    const std::uint8_t* row = mask.ptr<std::uint8_t>(r);
    const int y = origin_y + r;
    int c = 0;
    for (; c + 8 <= cols; c += 8) {
      std::uint64_t word;
      std::memcpy(&word, row + c, sizeof(word));
      if (word == 0) {
        continue;
      }
      for (int k = 0; k < 8; ++k) {
        *next = {origin_x + c + k, y};
        next += row[c + k] != 0 ? 1 : 0;
      }
    }
    for (; c < cols; ++c) {
      *next = {origin_x + c, y};
      next += row[c] != 0 ? 1 : 0;
    }
  }
  out.resize(start + set_count);
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
