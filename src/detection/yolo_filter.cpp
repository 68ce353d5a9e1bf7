// Class filtering and same-class box suppression of a ParsedYolo.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <rclcpp/logging.hpp>

#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

// The kept detections in input order, with exactly the masks they can still use.
ParsedYolo carryOver(const ParsedYolo& parsed, const std::vector<bool>& keep) {
  ParsedYolo result;
  result.success = parsed.success;
  result.message = parsed.message;
  std::set<std::string> kept_classes;
  for (std::size_t position = 0; position < parsed.detections.size(); ++position) {
    if (!keep[position]) {
      continue;
    }
    const YoloDetection& detection = parsed.detections[position];
    result.detections.push_back(detection);
    kept_classes.insert(std::to_string(detection.cls));
    const auto mask = parsed.instance_masks.find(detection.index);
    if (mask != parsed.instance_masks.end()) {
      result.instance_masks.insert(*mask);
    }
  }
  for (const auto& key : kept_classes) {
    const auto mask = parsed.masks_base64.find(key);
    if (mask != parsed.masks_base64.end()) {
      result.masks_base64.insert(*mask);
    }
  }
  return result;
}

float intersection(const YoloDetection& a, const YoloDetection& b) {
  const float width = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
  const float height = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
  return std::max(width, 0.0F) * std::max(height, 0.0F);
}

bool overlapsAbove(const YoloDetection& a, const YoloDetection& b, float iou_threshold) {
  const float inter = intersection(a, b);
  const float uni = a.area + b.area - inter;
  return uni > 0.0F && inter / uni > iou_threshold;
}

// NaN confidences rank lowest, so the ordering stays a strict weak order.
float rankOf(const YoloDetection& detection) {
  return std::isnan(detection.conf) ? -std::numeric_limits<float>::infinity() : detection.conf;
}

// Returns the number of detections it newly flagged within this class.
std::size_t suppressWithinClass(const std::vector<YoloDetection>& detections,
                                std::vector<std::size_t> positions, float iou_threshold,
                                std::vector<bool>& suppressed) {
  std::stable_sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
    return rankOf(detections[a]) > rankOf(detections[b]);
  });
  std::size_t count = 0;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (suppressed[positions[i]]) {
      continue;
    }
    const YoloDetection& keeper = detections[positions[i]];
    for (std::size_t j = i + 1; j < positions.size(); ++j) {
      if (!suppressed[positions[j]] &&
          overlapsAbove(keeper, detections[positions[j]], iou_threshold)) {
        suppressed[positions[j]] = true;
        ++count;
      }
    }
  }
  return count;
}

}  // namespace

ParsedYolo filterParsedYolo(const ParsedYolo& parsed, const std::set<int>& keep_classes) {
  if (keep_classes.empty()) {
    return parsed;
  }
  std::vector<bool> keep(parsed.detections.size());
  for (std::size_t position = 0; position < keep.size(); ++position) {
    keep[position] = keep_classes.count(parsed.detections[position].cls) > 0;
  }
  return carryOver(parsed, keep);
}

ParsedYolo sameClassBboxNms(const ParsedYolo& parsed, float iou_threshold,
                            const rclcpp::Logger& logger) {
  const std::size_t total = parsed.detections.size();
  if (total < 2) {
    return parsed;
  }
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t position = 0; position < total; ++position) {
    groups[parsed.detections[position].cls].push_back(position);
  }
  std::vector<bool> suppressed(total, false);
  std::size_t count = 0;
  for (auto& group : groups) {
    if (group.second.size() >= 2) {
      count += suppressWithinClass(parsed.detections, std::move(group.second), iou_threshold,
                                   suppressed);
    }
  }
  if (count == 0) {
    return parsed;
  }
  RCLCPP_INFO(logger, "sameClassBboxNms: suppressed %zu / %zu detections (iou_threshold=%.3f)",
              count, total, static_cast<double>(iou_threshold));
  std::vector<bool> keep(total);
  for (std::size_t position = 0; position < total; ++position) {
    keep[position] = !suppressed[position];
  }
  return carryOver(parsed, keep);
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
