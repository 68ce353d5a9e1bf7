// SPDX-License-Identifier: Apache-2.0
// Detection-result parsing: a YOLO instance-segmentation result (JSON text) turned into
// detections, filtered by class, suppressed within a class, and cut into per-instance pixels.
#ifndef VANTOREL_BASE_UTILS__YOLO_MASK_PARSER_HPP_
#define VANTOREL_BASE_UTILS__YOLO_MASK_PARSER_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core/mat.hpp>
#include <rclcpp/logger.hpp>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

struct YoloDetection {
  std::size_t index = 0;  // position in the parsed lists; never renumbered
  float x1 = 0.0F;
  float y1 = 0.0F;
  float x2 = 0.0F;
  float y2 = 0.0F;
  int cls = 0;
  float conf = 0.0F;
  float area = 0.0F;  // max(x2 - x1, 0) * max(y2 - y1, 0); a NaN side counts as 0
};

struct InstanceMask {
  std::size_t input_index = 0;
  std::string mask_base64;  // PNG covering exactly the detection's box window
  int width = 0;            // declared; 0 when absent
  int height = 0;
};

struct ParsedYolo {
  std::vector<YoloDetection> detections;
  std::map<std::string, std::string> masks_base64;     // class id text -> whole-frame PNG
  std::map<std::size_t, InstanceMask> instance_masks;  // detection index -> ROI PNG
  bool success = true;
  std::string message;
};

// Throws the JSON library's exceptions for malformed documents and std::runtime_error for
// mismatched list lengths and malformed instance-mask entries; class ids or mask sizes that
// int cannot hold throw InputError kOutOfRange naming the list ("yolo_result cls_list[2]
// value 3e+09 is outside the range of int"). Logs (ERROR) only parse errors and length
// mismatches.
VANTOREL_BASE_UTILS_PUBLIC ParsedYolo parseYoloResult(const std::string& yolo_result,
                                                      const rclcpp::Logger& logger);

// parseYoloResult reads a member given twice in one object as the JSON library does: the
// last one wins, without a word. Called first, this refuses such a result with InputError
// kMalformed naming the member by its path: "yolo_result member cls_list is given twice; a
// reader would silently take one of the two" ("instance_masks[0].width" for a nested one).
// Text that is not JSON passes, for parseYoloResult to refuse and log as it does. One pass
// over the text that builds no document.
VANTOREL_BASE_UTILS_PUBLIC void requireUniqueMembers(const std::string& yolo_result);

// An empty set keeps everything.
VANTOREL_BASE_UTILS_PUBLIC ParsedYolo filterParsedYolo(const ParsedYolo& parsed,
                                                       const std::set<int>& keep_classes);

// Greedy per-class suppression by IoU over the stored areas; among equal confidences the
// earlier detection wins. Logs one INFO line when anything was suppressed.
VANTOREL_BASE_UTILS_PUBLIC ParsedYolo sameClassBboxNms(const ParsedYolo& parsed,
                                                       float iou_threshold,
                                                       const rclcpp::Logger& logger);

struct InstancePixelSet {
  std::size_t index = 0;
  int cls = 0;
  float x1 = 0.0F;  // mask window in image pixels; all 0 when there is no mask
  float y1 = 0.0F;
  float x2 = 0.0F;
  float y2 = 0.0F;
  cv::Mat roi_mask;  // CV_8UC1, roi_height x roi_width
  std::string roi_mask_base64;
  int roi_width = 0;
  int roi_height = 0;
  std::vector<std::array<int, 2>> pixels;  // {column, row} where roi_mask != 0, row order
};

// Class id text -> one pixel list per instance with at least one pixel, in detection order.
using InstancePixelMap = std::map<std::string, std::vector<std::vector<std::array<int, 2>>>>;

// Mask pixels one call may hold when the caller sets no budget: 128 Mi, for example 145 whole
// 1280x720 masks or 16 whole 3840x2160 ones.
constexpr std::uint64_t kDefaultMaskPixelsPerCall = std::uint64_t{1} << 27;

// Bounds on the masks one call decodes and holds. The detector is another process, and a few
// hundred bytes of its result can declare masks of gigabytes. Every mask is also refused
// above 8192 x 8192 pixels (2^26), whatever the budget.
struct MaskBudget {
  // The camera frame. A class mask of any other size, or an instance mask larger in either
  // direction, is refused before it is decoded: a class mask covers the whole frame, and a
  // window cut from a smaller one would silently lose the pixels beyond it. Empty (the
  // default): not known, and class masks of any size are cut as they are.
  cv::Size frame;
  // Mask pixels one call may hold: the class masks that detections cut from, the instance
  // masks, and every window cut from a class mask (a window's pixel list is at most its area).
  // Class masks no detection uses are decoded one at a time to check that they decode and
  // fit the frame, then dropped; they are not charged to this budget.
  std::uint64_t max_total_pixels = kDefaultMaskPixelsPerCall;
};

// One record per detection. A broken class mask is logged (WARN) and skipped; a broken or
// misfitting instance mask throws std::runtime_error. Within the default budget, as
// buildInstancePixels below: beyond it a class mask is skipped the same way, an instance
// mask or a window throws InputError kOverLimit.
VANTOREL_BASE_UTILS_PUBLIC std::vector<InstancePixelSet> buildInstancePixelSets(
    const ParsedYolo& parsed, const rclcpp::Logger& logger);

// The non-empty pixel lists of buildInstancePixelSets grouped by class, without cutting out
// and encoding the windows that the map does not hold. Fails and logs as
// buildInstancePixelSets does, then logs (DEBUG) the counts. Uses the default budget.
VANTOREL_BASE_UTILS_PUBLIC InstancePixelMap buildInstancePixelMap(const ParsedYolo& parsed,
                                                                  const rclcpp::Logger& logger);

// One detection's image pixels: what a projection takes of an InstancePixelSet.
struct InstancePixels {
  std::size_t index = 0;  // the detection's index
  int cls = 0;
  std::vector<std::array<int, 2>> pixels;  // as InstancePixelSet::pixels
};

struct InstancePixelsResult {
  std::vector<InstancePixels> instances;  // one per detection, in detection order
  // Every class mask left out, in key order (collection "masks_base64", key the mask's key):
  // kMalformed for one that does not decode, kSizeMismatch for one whose size is not the
  // frame's ("masks_base64[0] is 320x240 pixels, not the 640x480 of the frame it covers"),
  // kOverLimit for one beyond the budget.
  std::vector<DroppedInput> dropped;
};

// The pixels of buildInstancePixelSets for every detection, within `budget`, and the class
// masks it left out. A class mask that does not decode, does not fit the frame or exceeds
// the budget is logged (WARN) as there, left out and listed in `dropped`, so that a caller
// can refuse the frame or go on.
// An instance mask that does not decode or fit its box throws std::runtime_error as there;
// one beyond the budget, or a window that would take the call past it, throws InputError
// (kSizeMismatch or kOverLimit) naming the mask; corners beyond int throw InputError
// kOutOfRange.
VANTOREL_BASE_UTILS_PUBLIC InstancePixelsResult
buildInstancePixels(const ParsedYolo& parsed, const rclcpp::Logger& logger,
                    const MaskBudget& budget = MaskBudget{});

// {"<cls>": {"dirts": [[[x, y], ...], ...]}, ...}
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json instancePixelMapToJson(const InstancePixelMap& map);

// The same JSON as text, exactly as instancePixelMapToJson(map).dump(indent) writes it, for
// callers who only save or send it: written straight from the map, many times faster than
// building the document (the JSON library allocates every pixel as an array of its own).
// Like dump(), throws the JSON library's type_error for a key that is not valid UTF-8.
VANTOREL_BASE_UTILS_PUBLIC std::string instancePixelMapToJsonText(const InstancePixelMap& map,
                                                                  int indent = -1);
// The same text written to `out` an instance at a time; the stream's state tells the outcome.
VANTOREL_BASE_UTILS_PUBLIC void writeInstancePixelMapJson(std::ostream& out,
                                                          const InstancePixelMap& map,
                                                          int indent = -1);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__YOLO_MASK_PARSER_HPP_
