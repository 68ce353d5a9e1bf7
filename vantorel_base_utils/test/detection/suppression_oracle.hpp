// SPDX-License-Identifier: Apache-2.0
// The same-class box suppression rule written literally: every kept box of a class compared
// with every later box in confidence order. The library's suppression is checked against it
// detection for detection; shared by the tests and the benchmark.
#ifndef VANTOREL_BASE_UTILS__TEST__DETECTION__SUPPRESSION_ORACLE_HPP_
#define VANTOREL_BASE_UTILS__TEST__DETECTION__SUPPRESSION_ORACLE_HPP_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <vector>

#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace suppression_oracle {

using vantorel_base_utils::yolo_mask_parser::ParsedYolo;
using vantorel_base_utils::yolo_mask_parser::YoloDetection;

// The indices of the detections a result holds, in its order.
inline std::vector<std::size_t> indices(const ParsedYolo& parsed) {
  std::vector<std::size_t> out;
  for (const auto& d : parsed.detections) {
    out.push_back(d.index);
  }
  return out;
}

// Input positions of the detections that stay, in input order.
inline std::vector<std::size_t> keptPositions(const std::vector<YoloDetection>& detections,
                                              float iou_threshold) {
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < detections.size(); ++i) {
    groups[detections[i].cls].push_back(i);
  }
  // Highest confidence first, NaN last, equal confidences in input order.
  const auto rank = [&](std::size_t i) {
    const float conf = detections[i].conf;
    return std::isnan(conf) ? -std::numeric_limits<float>::infinity() : conf;
  };
  std::vector<bool> suppressed(detections.size(), false);
  for (auto& [cls, order] : groups) {
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) > rank(b); });
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (suppressed[order[i]]) {
        continue;
      }
      const YoloDetection& a = detections[order[i]];
      for (std::size_t j = i + 1; j < order.size(); ++j) {
        const YoloDetection& b = detections[order[j]];
        const float w = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
        const float h = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
        const float inter = std::max(w, 0.0F) * std::max(h, 0.0F);
        const float uni = a.area + b.area - inter;
        if (!suppressed[order[j]] && uni > 0.0F && inter / uni > iou_threshold) {
          suppressed[order[j]] = true;
        }
      }
    }
  }
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < detections.size(); ++i) {
    if (!suppressed[i]) {
      kept.push_back(i);
    }
  }
  return kept;
}

}  // namespace suppression_oracle

#endif  // VANTOREL_BASE_UTILS__TEST__DETECTION__SUPPRESSION_ORACLE_HPP_
