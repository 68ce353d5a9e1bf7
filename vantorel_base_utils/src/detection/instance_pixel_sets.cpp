// SPDX-License-Identifier: Apache-2.0
// Per-instance pixel sets, pixel lists and maps cut from the class and instance masks of a
// parsed result.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <rclcpp/logging.hpp>

#include "detection/class_id_text.hpp"
#include "detection/mask_codec.hpp"
#include "detection/mask_scan.hpp"
#include "io/number_to_int.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

using Reason = InputError::Reason;

// Truncation toward zero, saturated to int. Only used for windows that are clamped to the
// frame afterwards, where a saturated corner clamps exactly as the true one would.
int truncateSaturated(float v) {
  if (truncatesIntoInt(v)) {
    return static_cast<int>(v);
  }
  return v > 0.0F ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
}

// A detection's mask and where its first pixel lies in the image. A window cut from a class
// mask is a view into it: the pixel lists need no copy, the InstancePixelSet records take one.
struct Window {
  cv::Mat mask;
  int origin_x = 0;
  int origin_y = 0;
  bool borrowed = false;  // a view into a class mask that other detections may share
};

std::uint64_t areaOf(const cv::Mat& mask) {
  return static_cast<std::uint64_t>(mask.rows) * static_cast<std::uint64_t>(mask.cols);
}

// The mask pixels one call holds, against its budget.
class MaskLedger {
 public:
  explicit MaskLedger(const MaskBudget& budget) : budget_(budget) {}

  MaskLimits limits() const { return {budget_.frame, false, budget_.max_total_pixels - held_}; }
  // A class mask no detection uses is decoded to check it and dropped at once: it is held
  // by no one, so it is bounded by the frame and the decoder's own bound, not the budget.
  MaskLimits classMaskLimits(bool used) const {
    MaskLimits class_limits = limits();
    class_limits.whole_frame = true;
    if (!used) {
      class_limits.pixels_left = std::numeric_limits<std::uint64_t>::max();
    }
    return class_limits;
  }
  void hold(std::uint64_t pixels, const std::string& what) {
    if (pixels > budget_.max_total_pixels - held_) {
      throw InputError(Reason::kOverLimit, what,
                       what + " of " + std::to_string(pixels) +
                           " pixels would take this call past its mask budget of " +
                           std::to_string(budget_.max_total_pixels) + " pixels");
    }
    held_ += pixels;
  }

 private:
  MaskBudget budget_;
  std::uint64_t held_ = 0;
};

// Class masks some detection cuts its window from: those without an instance mask.
std::set<int> classesCutFrom(const ParsedYolo& parsed) {
  std::set<int> classes;
  for (const YoloDetection& detection : parsed.detections) {
    if (parsed.instance_masks.count(detection.index) == 0) {
      classes.insert(detection.cls);
    }
  }
  return classes;
}

// The codec's own failures ("is empty or invalid Base64", "PNG decode failed") are plain
// std::runtime_error; they all say the mask does not decode.
Reason reasonOf(const std::exception& e) {
  const auto* refused = dynamic_cast<const InputError*>(&e);
  return refused != nullptr ? refused->reason() : Reason::kMalformed;
}

// Every entry is decoded, in key order, so that each broken one is reported, logged and
// listed; those no detection uses are dropped at once instead of being held through the call.
std::map<int, cv::Mat> decodeClassMasks(const ParsedYolo& parsed, const rclcpp::Logger& logger,
                                        MaskLedger& ledger, std::vector<DroppedInput>& dropped) {
  const std::set<int> used_classes = classesCutFrom(parsed);
  std::map<int, cv::Mat> masks;
  for (const auto& [key, text] : parsed.masks_base64) {
    try {
      const std::string label = "masks_base64[" + key + "]";
      const std::optional<int> cls = classIdOfText(key);
      const bool used = cls && used_classes.count(*cls) != 0;
      cv::Mat mask = decodeMaskBase64(text, label, ledger.classMaskLimits(used));
      if (used) {
        ledger.hold(areaOf(mask), label);
        masks.emplace(*cls, std::move(mask));
      }
    } catch (const std::exception& e) {
      RCLCPP_WARN(logger, "%s", e.what());
      dropped.push_back({"masks_base64", key, reasonOf(e), e.what()});
    }
  }
  return masks;
}

Window instanceWindow(const YoloDetection& detection, const InstanceMask& entry,
                      MaskLedger& ledger) {
  const std::string label = "instance_masks[" + std::to_string(detection.index) + "]";
  cv::Mat image = decodeMaskBase64(entry.mask_base64, label, ledger.limits());
  if (!truncatesIntoInt(detection.x1) || !truncatesIntoInt(detection.y1) ||
      !truncatesIntoInt(detection.x2) || !truncatesIntoInt(detection.y2)) {
    throw InputError(Reason::kOutOfRange, label,
                     label + " bbox corners are not numbers within the range of int");
  }
  const int x1 = static_cast<int>(detection.x1);
  const int y1 = static_cast<int>(detection.y1);
  // In 64 bits: the difference of two ints may not fit in one.
  const std::int64_t box_width = std::int64_t{static_cast<int>(detection.x2)} - x1;
  const std::int64_t box_height = std::int64_t{static_cast<int>(detection.y2)} - y1;
  const bool fits = entry.width > 0 && entry.height > 0 && entry.width == image.cols &&
                    entry.height == image.rows && entry.width == box_width &&
                    entry.height == box_height;
  if (!fits) {
    throw std::runtime_error("instance mask dimensions do not match its bbox window");
  }
  ledger.hold(areaOf(image), label);
  return {std::move(image), x1, y1, false};
}

int clampTo(int v, int high) {
  return v < 0 ? 0 : (v > high ? high : v);
}

// The box's part of the frame-sized class mask, as a view; empty when nothing is left.
Window classWindow(const YoloDetection& detection, const cv::Mat& class_mask, MaskLedger& ledger) {
  if (std::isnan(detection.x1) || std::isnan(detection.y1) || std::isnan(detection.x2) ||
      std::isnan(detection.y2)) {
    return {};  // a box without extent, as its area already says
  }
  const int left = clampTo(truncateSaturated(detection.x1), class_mask.cols);
  const int right = clampTo(truncateSaturated(detection.x2), class_mask.cols);
  const int top = clampTo(truncateSaturated(detection.y1), class_mask.rows);
  const int bottom = clampTo(truncateSaturated(detection.y2), class_mask.rows);
  if (left >= right || top >= bottom) {
    return {};
  }
  ledger.hold(static_cast<std::uint64_t>(right - left) * static_cast<std::uint64_t>(bottom - top),
              "the window of detection " + std::to_string(detection.index) + " in masks_base64[" +
                  std::to_string(detection.cls) + "]");
  return {class_mask(cv::Range(top, bottom), cv::Range(left, right)), left, top, true};
}

// A call's masks: the class masks decoded once, each detection's window cut from them or
// decoded from its instance mask.
class MaskWindows {
 public:
  MaskWindows(const ParsedYolo& parsed, const rclcpp::Logger& logger, const MaskBudget& budget)
      : parsed_(parsed),
        ledger_(budget),
        class_masks_(decodeClassMasks(parsed, logger, ledger_, dropped_)) {}

  Window of(const YoloDetection& detection) {
    const auto instance = parsed_.instance_masks.find(detection.index);
    if (instance != parsed_.instance_masks.end()) {
      return instanceWindow(detection, instance->second, ledger_);
    }
    const auto class_mask = class_masks_.find(detection.cls);
    if (class_mask != class_masks_.end()) {
      return classWindow(detection, class_mask->second, ledger_);
    }
    return {};
  }

  std::vector<DroppedInput> takeDropped() { return std::move(dropped_); }

 private:
  const ParsedYolo& parsed_;
  MaskLedger ledger_;
  std::vector<DroppedInput> dropped_;
  std::map<int, cv::Mat> class_masks_;
};

InstancePixelSet makePixelSet(const YoloDetection& detection, const Window& window) {
  InstancePixelSet set;
  set.index = detection.index;
  set.cls = detection.cls;
  if (window.mask.empty()) {
    return set;
  }
  set.roi_width = window.mask.cols;
  set.roi_height = window.mask.rows;
  set.x1 = static_cast<float>(window.origin_x);
  set.y1 = static_cast<float>(window.origin_y);
  set.x2 = static_cast<float>(std::int64_t{window.origin_x} + set.roi_width);
  set.y2 = static_cast<float>(std::int64_t{window.origin_y} + set.roi_height);
  // Each record owns its mask: a view would share pixels with other records of the class.
  set.roi_mask = window.borrowed ? window.mask.clone() : window.mask;
  set.roi_mask_base64 = encodeMaskBase64(set.roi_mask);
  appendSetPixels(set.roi_mask, window.origin_x, window.origin_y, set.pixels);
  return set;
}

}  // namespace

std::vector<InstancePixelSet> buildInstancePixelSets(const ParsedYolo& parsed,
                                                     const rclcpp::Logger& logger) {
  MaskWindows windows(parsed, logger, MaskBudget{});
  std::vector<InstancePixelSet> sets;
  sets.reserve(parsed.detections.size());
  for (const YoloDetection& detection : parsed.detections) {
    sets.push_back(makePixelSet(detection, windows.of(detection)));
  }
  return sets;
}

InstancePixelsResult buildInstancePixels(const ParsedYolo& parsed, const rclcpp::Logger& logger,
                                         const MaskBudget& budget) {
  MaskWindows windows(parsed, logger, budget);
  InstancePixelsResult result;
  result.instances.reserve(parsed.detections.size());
  for (const YoloDetection& detection : parsed.detections) {
    InstancePixels instance;
    instance.index = detection.index;
    instance.cls = detection.cls;
    const Window window = windows.of(detection);
    if (!window.mask.empty()) {
      appendSetPixels(window.mask, window.origin_x, window.origin_y, instance.pixels);
    }
    result.instances.push_back(std::move(instance));
  }
  result.dropped = windows.takeDropped();
  return result;
}

InstancePixelMap buildInstancePixelMap(const ParsedYolo& parsed, const rclcpp::Logger& logger) {
  std::map<int, std::vector<std::vector<std::array<int, 2>>>> by_class;
  for (InstancePixels& instance : buildInstancePixels(parsed, logger).instances) {
    if (!instance.pixels.empty()) {
      by_class[instance.cls].push_back(std::move(instance.pixels));
    }
  }
  InstancePixelMap map;
  for (auto& [cls, instances] : by_class) {
    map.emplace(std::to_string(cls), std::move(instances));
  }
  RCLCPP_DEBUG(logger, "buildInstancePixelMap: detections=%zu classes_with_instances=%zu",
               parsed.detections.size(), map.size());
  return map;
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
