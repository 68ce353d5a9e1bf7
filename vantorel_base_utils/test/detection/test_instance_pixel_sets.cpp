// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <rcutils/logging.h>
#include <opencv2/core.hpp>

#include "detection/mask_codec.hpp"
#include "support/input_error_reason.hpp"
#include "support/log_capture.hpp"
#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;
using vantorel_test::LogCapture;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("pixels_test");

ymp::YoloDetection detection(std::size_t index, int cls, float x1, float y1, float x2, float y2) {
  return {index, x1, y1, x2, y2, cls, 0.9F, 0.F};
}

std::string failureOf(const ymp::ParsedYolo& parsed) {
  return vantorel_test::runtimeErrorText([&] { ymp::buildInstancePixelSets(parsed, kLogger); });
}

ymp::InstanceMask instanceMask(std::size_t index, const cv::Mat& mask) {
  return {index, ymp::encodeMaskBase64(mask), mask.cols, mask.rows};
}

}  // namespace

TEST(InstancePixelSets, CutsClassMasksToTheClampedBox) {
  ymp::ParsedYolo parsed;
  parsed.masks_base64["7"] = ymp::encodeMaskBase64(cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)));
  parsed.detections = {detection(0, 7, -3.5F, 2.9F, 4.2F, 20.F),
                       detection(1, 7, 5.2F, 0.F, 5.9F, 9.F),
                       detection(2, 7, 20.F, 20.F, 30.F, 30.F), detection(3, 8, 0, 0, 5, 5)};
  const auto sets = ymp::buildInstancePixelSets(parsed, kLogger);
  ASSERT_EQ(sets.size(), 4U);
  const auto& cut = sets[0];
  EXPECT_EQ(cut.index, 0U);
  EXPECT_EQ(cut.cls, 7);
  EXPECT_EQ(std::vector<float>({cut.x1, cut.y1, cut.x2, cut.y2}),
            std::vector<float>({0, 2, 4, 10}));
  EXPECT_EQ(cut.roi_width, 4);
  EXPECT_EQ(cut.roi_height, 8);
  EXPECT_EQ(cut.roi_mask.size(), cv::Size(4, 8));
  ASSERT_EQ(cut.pixels.size(), 32U);
  EXPECT_EQ(Pixels(cut.pixels.begin(), cut.pixels.begin() + 5),
            (Pixels{{0, 2}, {1, 2}, {2, 2}, {3, 2}, {0, 3}}));
  EXPECT_EQ(cv::countNonZero(ymp::decodeMaskBase64(cut.roi_mask_base64, "r") != cut.roi_mask), 0);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_TRUE(sets[i].roi_mask.empty() && sets[i].pixels.empty() &&
                sets[i].roi_mask_base64.empty());
    EXPECT_EQ(sets[i].x2, 0.F);
    EXPECT_EQ(sets[i].index, i);
  }

  // Two boxes over the whole class mask: each record owns its pixels, so changing one
  // record's mask leaves the other's alone.
  parsed.detections = {detection(0, 7, 0, 0, 10, 10), detection(1, 7, -1, -1, 20, 20)};
  auto whole = ymp::buildInstancePixelSets(parsed, kLogger);
  whole[0].roi_mask.setTo(0);
  EXPECT_EQ(cv::countNonZero(whole[1].roi_mask), 100);
}

TEST(InstancePixelSets, ScansEveryByteInRowOrder) {
  // Widths around the word size, with set bytes of any value at word edges.
  for (int cols : {1, 7, 8, 9, 17, 64}) {
    cv::Mat mask = cv::Mat::zeros(3, cols, CV_8UC1);
    Pixels expected;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < cols; ++c) {
        if ((c * 5 + r) % 7 == 0 || c == cols - 1) {
          mask.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>(1 + (c % 255));
          expected.push_back({c + 100, r - 1});
        }
      }
    }
    ymp::ParsedYolo parsed;
    parsed.detections = {detection(0, 1, 100.9F, -1.5F, static_cast<float>(100 + cols), 2.F)};
    parsed.instance_masks[0] = instanceMask(0, mask);
    EXPECT_EQ(ymp::buildInstancePixelSets(parsed, kLogger)[0].pixels, expected) << cols;
  }
}

TEST(InstancePixelSets, InstanceMasksMustFillTheirTruncatedBox) {
  const cv::Mat mask(6, 5, CV_8UC1, cv::Scalar(1));
  ymp::ParsedYolo parsed;
  parsed.masks_base64["4"] = ymp::encodeMaskBase64(cv::Mat(40, 40, CV_8UC1, cv::Scalar(9)));
  parsed.detections = {detection(0, 4, 10.7F, 20.2F, 15.9F, 26.F), detection(1, 4, 0, 0, 2, 2),
                       detection(2, 4, -2.F, 0, 3, 6)};
  parsed.instance_masks[0] = instanceMask(0, mask);
  parsed.instance_masks[2] = instanceMask(2, mask);
  const auto sets = ymp::buildInstancePixelSets(parsed, kLogger);
  EXPECT_EQ(sets[0].pixels.size(), 30U);
  EXPECT_EQ(sets[0].pixels.front(), (std::array<int, 2>{10, 20}));
  EXPECT_EQ(sets[0].pixels.back(), (std::array<int, 2>{14, 25}));
  EXPECT_EQ(sets[0].roi_mask.at<std::uint8_t>(0, 0), 1);  // not the class mask's 9
  EXPECT_EQ(sets[1].pixels.size(), 4U);
  EXPECT_EQ(sets[2].x1, -2.F);
  EXPECT_EQ(sets[2].pixels.front(), (std::array<int, 2>{-2, 0}));

  const std::string mismatch = "instance mask dimensions do not match its bbox window";
  auto broken = parsed;
  broken.instance_masks[0].width = 0;
  EXPECT_EQ(failureOf(broken), mismatch);
  broken = parsed;
  broken.instance_masks[0].width = 4;
  broken.detections[0].x2 = 14.9F;
  EXPECT_EQ(failureOf(broken), mismatch);
  broken = parsed;
  broken.detections[0].y2 = 27.F;
  EXPECT_EQ(failureOf(broken), mismatch);
  broken = parsed;
  broken.instance_masks[2].mask_base64 = "QQ";
  EXPECT_EQ(failureOf(broken), "instance_masks[2] PNG decode failed");
}

TEST(InstancePixelSets, HostileCornersNeitherOverflowNorGuess) {
  ymp::ParsedYolo parsed;
  parsed.masks_base64["1"] = ymp::encodeMaskBase64(cv::Mat(4, 6, CV_8UC1, cv::Scalar(1)));
  const float inf = std::numeric_limits<float>::infinity();
  parsed.detections = {detection(0, 1, -inf, -1e30F, inf, 3e9F),
                       detection(1, 1, std::nanf(""), 0, 5, 5)};
  const auto sets = ymp::buildInstancePixelSets(parsed, kLogger);
  EXPECT_EQ(sets[0].roi_width, 6);
  EXPECT_EQ(sets[0].roi_height, 4);
  EXPECT_TRUE(sets[1].pixels.empty());

  const cv::Mat mask(1, 128, CV_8UC1, cv::Scalar(1));
  parsed.instance_masks[0] = instanceMask(0, mask);
  parsed.detections[0] = detection(0, 1, 2147483520.F, 0, 2147483648.F, 1);
  EXPECT_EQ(failureOf(parsed),
            "instance_masks[0] bbox corners are not numbers within the range of int");
  parsed.detections[0] = detection(0, 1, -2147483648.F, 0, -2147483520.F, 1);
  EXPECT_EQ(ymp::buildInstancePixelSets(parsed, kLogger)[0].pixels.front(),
            (std::array<int, 2>{-2147483647 - 1, 0}));
}

TEST(InstancePixelMap, GroupsNonEmptyInstancesAndLogsBrokenClassMasks) {
  LogCapture capture;
  ymp::ParsedYolo parsed;
  parsed.masks_base64["4"] = ymp::encodeMaskBase64(cv::Mat(8, 8, CV_8UC1, cv::Scalar(255)));
  parsed.masks_base64["9"] = ymp::encodeMaskBase64(cv::Mat::zeros(8, 8, CV_8UC1));
  parsed.masks_base64["3"] = "QQ";
  parsed.detections = {detection(0, 4, 0, 0, 1, 1), detection(1, 9, 0, 0, 8, 8),
                       detection(2, 4, 2, 2, 4, 3), detection(3, 3, 0, 0, 8, 8)};
  const auto map = ymp::buildInstancePixelMap(parsed, kLogger);
  EXPECT_EQ(map, (ymp::InstancePixelMap{{"4", {{{0, 0}}, {{2, 2}, {3, 2}}}}}));
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_WARN, "masks_base64[3] PNG decode failed"), 1);
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_DEBUG,
                          "buildInstancePixelMap: detections=4 classes_with_instances=1"),
            1);

  capture.clear();
  EXPECT_TRUE(ymp::buildInstancePixelMap(ymp::ParsedYolo{}, kLogger).empty());
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_DEBUG,
                          "buildInstancePixelMap: detections=0 classes_with_instances=0"),
            1);

  // The map takes no window records on its way, yet holds exactly their pixels.
  ymp::InstancePixelMap from_sets;
  for (const auto& set : ymp::buildInstancePixelSets(parsed, kLogger)) {
    if (!set.pixels.empty()) {
      from_sets[std::to_string(set.cls)].push_back(set.pixels);
    }
  }
  EXPECT_EQ(map, from_sets);
}

TEST(InstancePixelMap, WritesTheDirtsDocument) {
  EXPECT_EQ(ymp::instancePixelMapToJson({}), json::object());
  const ymp::InstancePixelMap map{{"4", {{{1, 2}}, {{3, 4}, {-5, 6}}}}, {"-1", {{}}}, {"7", {}}};
  EXPECT_EQ(ymp::instancePixelMapToJson(map).dump(),
            R"({"-1":{"dirts":[[]]},"4":{"dirts":[[[1,2]],[[3,4],[-5,6]]]},"7":{"dirts":[]}})");
}

// One synthetic frame through every step, as an application runs it.
TEST(DetectionRoad, DetectorJsonToPixelMapJson) {
  cv::Mat class2 = cv::Mat::zeros(6, 8, CV_8UC1);
  class2(cv::Rect(1, 1, 3, 2)).setTo(255);
  class2(cv::Rect(6, 4, 2, 2)).setTo(255);
  cv::Mat roi = cv::Mat::zeros(2, 2, CV_8UC1);
  roi.at<std::uint8_t>(1, 0) = 1;
  json result = {{"bbox_xyxy_list", {{0, 0, 4, 3}, {0.5, 0, 4, 3}, {6, 4, 8, 6}, {2, 2, 4, 4}}},
                 {"conf_list", {0.9, 0.8, 0.7, 0.6}},
                 {"cls_list", {2, 2, 2, 5}},
                 {"masks_base64", {{"2", ymp::encodeMaskBase64(class2)}, {"6", "unused"}}},
                 {"instance_masks",
                  {{{"input_index", 3},
                    {"mask_base64", ymp::encodeMaskBase64(roi)},
                    {"width", 2},
                    {"height", 2}}}}};
  LogCapture capture;
  const auto parsed = ymp::parseYoloResult(result.dump(), kLogger);
  const auto kept = ymp::sameClassBboxNms(ymp::filterParsedYolo(parsed, {2, 5}), 0.5F, kLogger);
  EXPECT_EQ(kept.detections.size(), 3U);
  EXPECT_EQ(kept.masks_base64.count("6"), 0U);
  const json pixels = ymp::instancePixelMapToJson(ymp::buildInstancePixelMap(kept, kLogger));
  EXPECT_EQ(pixels, json::parse(R"({"2":{"dirts":[[[1,1],[2,1],[3,1],[1,2],[2,2],[3,2]],
                                                  [[6,4],[7,4],[6,5],[7,5]]]},
                                    "5":{"dirts":[[[2,3]]]}})"));
  EXPECT_TRUE(capture.records().size() == 2U);  // the suppression line and the summary
}

TEST(MaskBudget, HoldsOnlyUsedMasksAndRefusesWhatExceedsTheFrameOrTheBudget) {
  LogCapture capture;
  const std::string ten_by_ten = ymp::encodeMaskBase64(cv::Mat(10, 10, CV_8UC1, cv::Scalar(1)));
  ymp::ParsedYolo parsed;
  parsed.masks_base64 = {{"1", ten_by_ten}, {"2", ten_by_ten}, {"3", "QQ"}};
  parsed.detections = {detection(0, 1, 0, 0, 5, 4)};
  ymp::MaskBudget budget;
  budget.max_total_pixels = 205;  // mask 1 (100) and its 5x4 window; 2 is checked, not kept
  const auto within = ymp::buildInstancePixels(parsed, kLogger, budget);
  EXPECT_EQ(within.instances[0].pixels.size(), 20U);
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_WARN, "masks_base64[3] PNG decode failed"), 1);
  EXPECT_EQ(capture.records().size(), 1U);
  // What was logged is also returned, so a caller can refuse the frame without parsing logs.
  ASSERT_EQ(within.dropped.size(), 1U);
  EXPECT_EQ(within.dropped[0].collection, "masks_base64");
  EXPECT_EQ(within.dropped[0].key, "3");
  EXPECT_EQ(within.dropped[0].reason, vbu::InputError::Reason::kMalformed);
  EXPECT_EQ(within.dropped[0].message, "masks_base64[3] PNG decode failed");

  parsed.detections.push_back(detection(1, 2, 0, 0, 1, 1));  // now class mask 2 is kept too
  EXPECT_EQ(
      vantorel_test::runtimeErrorText([&] { ymp::buildInstancePixels(parsed, kLogger, budget); }),
      "the window of detection 0 in masks_base64[1] of 20 pixels would take this call "
      "past its mask budget of 205 pixels");
  EXPECT_EQ(
      vantorel_test::inputErrorReason([&] { ymp::buildInstancePixels(parsed, kLogger, budget); }),
      vbu::InputError::Reason::kOverLimit);

  capture.clear();
  budget.max_total_pixels = 150;
  const auto over_budget = ymp::buildInstancePixels(parsed, kLogger, budget);
  EXPECT_TRUE(over_budget.instances[1].pixels.empty());
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_WARN,
                          "masks_base64[2] is 10x10 pixels, more than the 50 left of this "
                          "call's mask budget"),
            1);
  ASSERT_EQ(over_budget.dropped.size(), 2U);
  EXPECT_EQ(over_budget.dropped[0].key, "2");
  EXPECT_EQ(over_budget.dropped[0].reason, vbu::InputError::Reason::kOverLimit);

  capture.clear();
  budget = ymp::MaskBudget{};
  budget.frame = cv::Size(10, 9);
  const auto beyond_frame = ymp::buildInstancePixels(parsed, kLogger, budget);
  EXPECT_TRUE(beyond_frame.instances[0].pixels.empty());
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_WARN,
                          "masks_base64[1] is 10x10 pixels, not the 10x9 of the frame it covers"),
            1);
  EXPECT_EQ(beyond_frame.dropped[0].reason, vbu::InputError::Reason::kSizeMismatch);
  parsed.instance_masks[0] = instanceMask(0, cv::Mat(4, 5, CV_8UC1, cv::Scalar(1)));
  budget.frame = cv::Size(4, 9);
  EXPECT_EQ(
      vantorel_test::runtimeErrorText([&] { ymp::buildInstancePixels(parsed, kLogger, budget); }),
      "instance_masks[0] is 5x4 pixels, larger than the 4x9 frame");
}

// A class mask covers the frame: a smaller one would give whole classes no pixels beyond its
// edge. Masks no detection uses are checked, one at a time, without taking any budget.
TEST(MaskBudget, ClassMasksMustCoverTheFrameAndUnusedOnesTakeNoBudget) {
  const std::string frame_mask = ymp::encodeMaskBase64(cv::Mat(9, 10, CV_8UC1, cv::Scalar(1)));
  ymp::ParsedYolo parsed;
  parsed.masks_base64 = {{"1", frame_mask},
                         {"2", ymp::encodeMaskBase64(cv::Mat(4, 5, CV_8UC1, cv::Scalar(1)))},
                         {"3", frame_mask},
                         {"4", frame_mask}};
  parsed.detections = {detection(0, 1, 0, 0, 10, 9), detection(1, 2, 0, 0, 10, 9)};
  ymp::MaskBudget budget;
  budget.frame = cv::Size(10, 9);
  budget.max_total_pixels = 180;  // class mask 1 and its whole-frame window
  const auto result = ymp::buildInstancePixels(parsed, kLogger, budget);
  EXPECT_EQ(result.instances[0].pixels.size(), 90U);
  EXPECT_TRUE(result.instances[1].pixels.empty());
  ASSERT_EQ(result.dropped.size(), 1U);
  EXPECT_EQ(result.dropped[0].key, "2");
  EXPECT_EQ(result.dropped[0].reason, vbu::InputError::Reason::kSizeMismatch);
  EXPECT_EQ(result.dropped[0].message,
            "masks_base64[2] is 5x4 pixels, not the 10x9 of the frame it covers");
}

TEST(InstancePixelMapJsonText, EqualsTheDocumentsDumpAtEveryIndent) {
  std::minstd_rand rng(7);
  for (int round = 0; round < 200; ++round) {
    ymp::InstancePixelMap map;
    for (auto k = rng() % 4; k > 0; --k) {
      const std::string key = rng() % 4 == 0 ? "\"\\\n\x01\xC3\xA9" : std::to_string(rng() % 50);
      auto& instances = map[key];
      for (auto i = rng() % 3; i > 0; --i) {
        Pixels pixels(rng() % 4);
        for (auto& pixel : pixels) {
          pixel = {static_cast<int>(rng()), -static_cast<int>(rng() % 1000)};
        }
        instances.push_back(pixels);
      }
    }
    for (const int indent : {-1, 0, 3}) {
      const std::string expected = ymp::instancePixelMapToJson(map).dump(indent);
      EXPECT_EQ(ymp::instancePixelMapToJsonText(map, indent), expected);
      std::ostringstream stream;
      ymp::writeInstancePixelMapJson(stream, map, indent);
      EXPECT_EQ(stream.str(), expected);
    }
  }
  const ymp::InstancePixelMap not_utf8 = {{"\xFF", {}}};
  EXPECT_THROW(ymp::instancePixelMapToJsonText(not_utf8), json::type_error);
}
