// SPDX-License-Identifier: Apache-2.0
// The synthetic detector frame of the detection benchmarks: 1280x720, 4 whole-frame class
// masks, 12 detections, 4 of them with their own instance mask.
#ifndef VANTOREL_BASE_UTILS__BENCH__DETECTION_FRAME_HPP_
#define VANTOREL_BASE_UTILS__BENCH__DETECTION_FRAME_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>

#include "detection/mask_codec.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_bench {

namespace ymp = vantorel_base_utils::yolo_mask_parser;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kClasses = 4;
constexpr int kPerClass = 3;

struct Box {
  int cls;
  cv::Rect rect;
};

// An ellipse filling most of the box: masks with curved edges, like a detector's.
inline void fillEllipse(cv::Mat& mask, const cv::Rect& box) {
  const double cx = box.x + box.width / 2.0;
  const double cy = box.y + box.height / 2.0;
  const double rx = box.width * 0.45;
  const double ry = box.height * 0.45;
  for (int r = box.y; r < box.y + box.height; ++r) {
    for (int c = box.x; c < box.x + box.width; ++c) {
      const double dx = (c - cx) / rx;
      const double dy = (r - cy) / ry;
      if (dx * dx + dy * dy <= 1.0) {
        mask.at<std::uint8_t>(r, c) = 255;
      }
    }
  }
}

struct Frame {
  std::vector<Box> boxes;
  std::vector<cv::Mat> class_masks;
  std::string json_text;
  ymp::ParsedYolo parsed;
  std::vector<std::string> mask_texts;          // 4 class masks, then 4 instance masks
  std::vector<std::vector<std::uint8_t>> pngs;  // the same, as PNG bytes
  std::vector<cv::Mat> windows;                 // every detection's mask window
  ymp::InstancePixelMap map;
};

inline Frame makeFrame() {
  Frame frame;
  for (int k = 0; k < kClasses; ++k) {
    frame.class_masks.push_back(cv::Mat::zeros(kHeight, kWidth, CV_8UC1));
  }
  nlohmann::json boxes = nlohmann::json::array();
  nlohmann::json confs = nlohmann::json::array();
  nlohmann::json classes = nlohmann::json::array();
  nlohmann::json instances = nlohmann::json::array();
  for (int i = 0; i < kClasses * kPerClass; ++i) {
    const int cls = i % kClasses;
    const cv::Rect rect(40 + (i % 6) * 205, 60 + (i / 6) * 330, 180 + 3 * i, 150 + 5 * i);
    frame.boxes.push_back({cls, rect});
    fillEllipse(frame.class_masks[static_cast<std::size_t>(cls)], rect);
    boxes.push_back(
        {rect.x + 0.4, rect.y + 0.7, rect.x + rect.width + 0.2, rect.y + rect.height + 0.9});
    confs.push_back(0.5 + 0.03 * i);
    classes.push_back(cls);
  }
  nlohmann::json class_texts = nlohmann::json::object();
  for (int k = 0; k < kClasses; ++k) {
    const std::string text = ymp::encodeMaskBase64(frame.class_masks[static_cast<std::size_t>(k)]);
    class_texts[std::to_string(k)] = text;
    frame.mask_texts.push_back(text);
  }
  for (int i = 0; i < kClasses; ++i) {  // the first detection of each class
    const Box& box = frame.boxes[static_cast<std::size_t>(i)];
    const cv::Mat roi = frame.class_masks[static_cast<std::size_t>(box.cls)](box.rect).clone();
    const std::string text = ymp::encodeMaskBase64(roi);
    instances.push_back(
        {{"input_index", i}, {"mask_base64", text}, {"width", roi.cols}, {"height", roi.rows}});
    frame.mask_texts.push_back(text);
  }
  frame.json_text = nlohmann::json{{"bbox_xyxy_list", boxes},     {"conf_list", confs},
                                   {"cls_list", classes},         {"masks_base64", class_texts},
                                   {"instance_masks", instances}, {"success", true}}
                        .dump();
  frame.parsed = ymp::parseYoloResult(frame.json_text, rclcpp::get_logger("bench"));
  for (const auto& text : frame.mask_texts) {
    frame.pngs.push_back(ymp::decodeBase64(text));
  }
  for (const auto& set : ymp::buildInstancePixelSets(frame.parsed, rclcpp::get_logger("bench"))) {
    frame.windows.push_back(set.roi_mask);
  }
  frame.map = ymp::buildInstancePixelMap(frame.parsed, rclcpp::get_logger("bench"));
  return frame;
}

inline const Frame& frame() {
  static const Frame instance = makeFrame();
  return instance;
}

}  // namespace vantorel_bench

#endif  // VANTOREL_BASE_UTILS__BENCH__DETECTION_FRAME_HPP_
