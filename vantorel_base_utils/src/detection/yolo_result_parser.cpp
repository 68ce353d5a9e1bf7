// SPDX-License-Identifier: Apache-2.0
// Parsing of the detector's JSON result into a ParsedYolo.
#include "vantorel_base_utils/yolo_mask_parser.hpp"

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <rclcpp/logging.hpp>

#include "io/number_to_int.hpp"
#include "io/repeated_json_member.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

using nlohmann::json;

constexpr std::size_t kCornerCount = 4;

// Floating values the detector sends are truncated toward zero; a value whose truncation
// int cannot hold is refused rather than converted with undefined behaviour, since any int
// we could substitute would name a different class or mask size.
int toInt(const json& value, const std::string& where) {
  const bool out_of_range = value.is_number_integer()
                                ? !intOfJsonInteger(value).has_value()
                                : value.is_number_float() && !truncatesIntoInt(value.get<double>());
  if (out_of_range) {
    throw InputError(
        InputError::Reason::kOutOfRange, "yolo_result " + where,
        "yolo_result " + where + " value " + value.dump() + " is outside the range of int");
  }
  return value.get<int>();  // booleans convert; other types raise the JSON library's type error
}

// Doubles beyond float's range become the infinity of their sign, which is what the
// hardware does, but without relying on a conversion the language leaves undefined.
float toFloat(const json& value) {
  if (value.is_number_float()) {
    const auto v = value.get<double>();
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax || v < -kMax) {
      return v > 0 ? std::numeric_limits<float>::infinity()
                   : -std::numeric_limits<float>::infinity();
    }
  }
  return value.get<float>();
}

float positiveSide(float low, float high) {
  const float side = high - low;
  return side > 0.0F ? side : 0.0F;  // false for NaN, so it counts as 0
}

float boxArea(float x1, float y1, float x2, float y2) {
  const float width = positiveSide(x1, x2);
  const float height = positiveSide(y1, y2);
  // An empty side wins over an infinite one (0 * inf would be NaN).
  return (width == 0.0F || height == 0.0F) ? 0.0F : width * height;
}

json parseDocument(const std::string& yolo_result, const rclcpp::Logger& logger) {
  try {
    return json::parse(yolo_result);
  } catch (const std::exception& e) {
    RCLCPP_ERROR(logger, "Failed to parse yolo_result json: %s", e.what());
    throw;
  }
}

void checkListLengths(std::size_t boxes, std::size_t confs, std::size_t classes,
                      const rclcpp::Logger& logger) {
  if (boxes == confs && boxes == classes) {
    return;
  }
  RCLCPP_ERROR(logger, "yolo_result length mismatch: bbox=%zu conf=%zu cls=%zu", boxes, confs,
               classes);
  throw std::runtime_error("yolo_result 列表长度不一致: bbox=" + std::to_string(boxes) +
                           " conf=" + std::to_string(confs) + " cls=" + std::to_string(classes));
}

YoloDetection readDetection(const json& boxes, const json& confs, const json& classes,
                            std::size_t i) {
  YoloDetection detection;
  detection.index = i;
  // Checked access: a short box entry raises the JSON library's out-of-range error.
  const json& box = boxes.at(i);
  float corners[kCornerCount];
  for (std::size_t k = 0; k < kCornerCount; ++k) {
    corners[k] = toFloat(box.at(k));
  }
  detection.x1 = corners[0];
  detection.y1 = corners[1];
  detection.x2 = corners[2];
  detection.y2 = corners[3];
  detection.cls = toInt(classes.at(i), "cls_list[" + std::to_string(i) + "]");
  detection.conf = toFloat(confs.at(i));
  detection.area = boxArea(detection.x1, detection.y1, detection.x2, detection.y2);
  return detection;
}

void readClassMasks(const json& document, ParsedYolo& result) {
  const auto member = document.find("masks_base64");
  if (member == document.end() || !member->is_object()) {
    return;
  }
  for (const auto& [key, value] : member->items()) {
    result.masks_base64[key] = value.get<std::string>();
  }
}

bool isWellFormedInstanceEntry(const json& entry) {
  if (!entry.is_object()) {
    return false;
  }
  const auto index = entry.find("input_index");
  const auto mask = entry.find("mask_base64");
  return index != entry.end() && mask != entry.end() && index->is_number_unsigned() &&
         mask->is_string();
}

int optionalSize(const json& entry, const char* key, std::size_t position) {
  const auto member = entry.find(key);
  if (member == entry.end()) {
    return 0;
  }
  return toInt(*member, "instance_masks[" + std::to_string(position) + "]." + key);
}

void readInstanceMasks(const json& document, ParsedYolo& result) {
  const auto member = document.find("instance_masks");
  if (member == document.end() || !member->is_array()) {
    return;
  }
  for (std::size_t position = 0; position < member->size(); ++position) {
    const json& entry = (*member)[position];
    if (!isWellFormedInstanceEntry(entry)) {
      throw std::runtime_error("instance_masks entries require input_index and mask_base64");
    }
    InstanceMask mask;
    mask.input_index = entry["input_index"].get<std::size_t>();
    mask.mask_base64 = entry["mask_base64"].get<std::string>();
    mask.width = optionalSize(entry, "width", position);
    mask.height = optionalSize(entry, "height", position);
    result.instance_masks[mask.input_index] = std::move(mask);
  }
}

}  // namespace

ParsedYolo parseYoloResult(const std::string& yolo_result, const rclcpp::Logger& logger) {
  const json document = parseDocument(yolo_result, logger);
  const json& boxes = document.at("bbox_xyxy_list");
  const json& confs = document.at("conf_list");
  const json& classes = document.at("cls_list");
  const std::size_t count = boxes.size();
  checkListLengths(count, confs.size(), classes.size(), logger);

  ParsedYolo result;
  result.success = document.value("success", true);
  result.message = document.value("message", std::string());
  result.detections.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    result.detections.push_back(readDetection(boxes, confs, classes, i));
  }
  readClassMasks(document, result);
  readInstanceMasks(document, result);
  return result;
}

void requireUniqueMembers(const std::string& yolo_result) {
  if (const std::optional<std::string> member = firstRepeatedJsonMember(yolo_result)) {
    throw InputError(InputError::Reason::kMalformed, "yolo_result " + *member,
                     "yolo_result member " + *member +
                         " is given twice; a reader would silently take one of the two");
  }
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
