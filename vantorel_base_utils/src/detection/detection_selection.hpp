// SPDX-License-Identifier: Apache-2.0
// Which detections of a parsed result stay, for callers inside the library that choose
// without logging; internal to the library.
#ifndef VANTOREL_BASE_UTILS__DETECTION__DETECTION_SELECTION_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__DETECTION_SELECTION_HPP_

#include <vector>

#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// One flag per position of parsed.detections: whether sameClassBboxNms leaves it out. Logs
// nothing.
std::vector<bool> sameClassSuppressed(const ParsedYolo& parsed, float iou_threshold);

// The detections at the positions `keep` marks, in input order, with exactly the masks they
// can still use: the instance masks of their indices, the class masks of their classes.
ParsedYolo carryOver(const ParsedYolo& parsed, const std::vector<bool>& keep);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__DETECTION_SELECTION_HPP_
