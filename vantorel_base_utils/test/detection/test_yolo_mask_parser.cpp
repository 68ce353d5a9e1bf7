// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <rcutils/logging.h>

#include "detection/suppression_oracle.hpp"
#include "support/log_capture.hpp"
#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;
using vantorel_test::LogCapture;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("yolo_test");

ymp::ParsedYolo parse(const std::string& text) {
  return ymp::parseYoloResult(text, kLogger);
}

template <typename Exception>
std::string failureOf(const std::string& text) {
  return vantorel_test::errorText<Exception>([&] { parse(text); });
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

ymp::YoloDetection box(std::size_t index, int cls, float conf, float x1, float y1, float x2,
                       float y2) {
  return {index, x1, y1, x2, y2, cls, conf, std::max(x2 - x1, 0.F) * std::max(y2 - y1, 0.F)};
}

using suppression_oracle::indices;

std::vector<std::size_t> maskKeys(const ymp::ParsedYolo& parsed) {
  std::vector<std::size_t> out;
  for (const auto& entry : parsed.instance_masks) {
    out.push_back(entry.first);
  }
  return out;
}

std::vector<std::string> classKeys(const ymp::ParsedYolo& parsed) {
  std::vector<std::string> out;
  for (const auto& entry : parsed.masks_base64) {
    out.push_back(entry.first);
  }
  return out;
}

// Detections of classes 1, 2, 2 with class masks 1, 2, 5 and instance masks 0, 1, 2, 9.
ymp::ParsedYolo threeDetections() {
  ymp::ParsedYolo parsed;
  parsed.detections = {box(0, 1, 0.5F, 0, 0, 1, 1), box(1, 2, 0.6F, 0, 0, 1, 1),
                       box(2, 2, 0.7F, 5, 5, 6, 6)};
  parsed.masks_base64 = {{"1", "a"}, {"2", "b"}, {"5", "c"}};
  for (std::size_t i : {0U, 1U, 2U, 9U}) {
    parsed.instance_masks[i] = {i, "m", 1, 1};
  }
  parsed.success = false;
  parsed.message = "partial";
  return parsed;
}

}  // namespace

TEST(ParseYoloResult, ReadsDetectionsAndOptionalMembers) {
  const auto empty = parse(R"({"bbox_xyxy_list":[],"conf_list":[],"cls_list":[]})");
  EXPECT_TRUE(empty.detections.empty() && empty.masks_base64.empty());
  EXPECT_TRUE(empty.success);
  EXPECT_EQ(empty.message, "");
  EXPECT_TRUE(
      parse(R"({"bbox_xyxy_list":null,"conf_list":null,"cls_list":null})").detections.empty());

  const auto parsed = parse(R"({"bbox_xyxy_list":[[10,20,30,60,99],[7.5,0,2,4]],
      "conf_list":[0.9,true],"cls_list":[2,-2.7],"success":false,"message":"m",
      "masks_base64":{"2":"QUJD","x":""},
      "instance_masks":[{"input_index":1,"mask_base64":"A","width":3,"height":4.9},
                        {"input_index":1,"mask_base64":"B"},
                        {"input_index":7,"mask_base64":"C","width":true}]})");
  ASSERT_EQ(parsed.detections.size(), 2U);
  const auto& first = parsed.detections[0];
  EXPECT_EQ(first.index, 0U);
  EXPECT_EQ(first.x1, 10.F);
  EXPECT_EQ(first.y2, 60.F);
  EXPECT_EQ(first.cls, 2);
  EXPECT_FLOAT_EQ(first.conf, 0.9F);
  EXPECT_EQ(first.area, 800.F);
  const auto& second = parsed.detections[1];
  EXPECT_EQ(second.index, 1U);
  EXPECT_EQ(second.cls, -2);
  EXPECT_EQ(second.conf, 1.F);
  EXPECT_EQ(second.x1, 7.5F);
  EXPECT_EQ(second.area, 0.F);
  EXPECT_FALSE(parsed.success);
  EXPECT_EQ(parsed.message, "m");
  EXPECT_EQ(parsed.masks_base64, (std::map<std::string, std::string>{{"2", "QUJD"}, {"x", ""}}));
  ASSERT_EQ(maskKeys(parsed), (std::vector<std::size_t>{1, 7}));
  const auto& replaced = parsed.instance_masks.at(1);
  EXPECT_EQ(replaced.input_index, 1U);
  EXPECT_EQ(replaced.mask_base64, "B");
  EXPECT_EQ(replaced.width, 0);
  EXPECT_EQ(replaced.height, 0);
  EXPECT_EQ(parsed.instance_masks.at(7).width, 1);

  const auto ignored = parse(R"({"bbox_xyxy_list":[],"conf_list":[],"cls_list":[],
      "masks_base64":["a"],"instance_masks":{}})");
  EXPECT_TRUE(ignored.masks_base64.empty() && ignored.instance_masks.empty());
}

TEST(ParseYoloResult, LogsParseErrorsAndLengthMismatchesThenThrows) {
  LogCapture capture;
  EXPECT_THROW(parse(R"({"bbox_xyxy_list":[)"), json::parse_error);
  ASSERT_EQ(capture.records().size(), 1U);
  EXPECT_EQ(capture.records()[0].severity, RCUTILS_LOG_SEVERITY_ERROR);
  EXPECT_TRUE(contains(capture.records()[0].text, "Failed to parse yolo_result json: "));

  capture.clear();
  EXPECT_EQ(failureOf<std::runtime_error>(
                R"({"bbox_xyxy_list":[[0,0,1,1],[0,0,1,1],[0,0,1,1]],"conf_list":[1,1],
                    "cls_list":[0,0,0]})"),
            "yolo_result 列表长度不一致: bbox=3 conf=2 cls=3");
  EXPECT_EQ(
      capture.count(RCUTILS_LOG_SEVERITY_ERROR, "yolo_result length mismatch: bbox=3 conf=2 cls=3"),
      1);
  EXPECT_EQ(capture.records().size(), 1U);
}

TEST(ParseYoloResult, PassesTheJsonLibraryErrorsThroughWithoutLogging) {
  LogCapture capture;
  EXPECT_TRUE(contains(failureOf<json::out_of_range>(R"({"bbox_xyxy_list":[],"conf_list":[]})"),
                       "cls_list"));
  EXPECT_THROW(parse("[1]"), json::type_error);
  const std::string lists = R"("conf_list":[1],"cls_list":[1])";
  EXPECT_TRUE(
      contains(failureOf<json::type_error>(R"({"bbox_xyxy_list":[["a",0,1,1]],)" + lists + "}"),
               "type must be number, but is string"));
  EXPECT_THROW(parse(R"({"bbox_xyxy_list":[[0,0,1]],)" + lists + "}"), json::out_of_range);
  EXPECT_THROW(parse(R"({"bbox_xyxy_list":{"a":1},)" + lists + "}"), json::type_error);
  const std::string empty = R"("bbox_xyxy_list":[],"conf_list":[],"cls_list":[])";
  EXPECT_TRUE(contains(failureOf<json::type_error>("{" + empty + R"(,"success":0})"),
                       "type must be boolean, but is number"));
  EXPECT_TRUE(contains(failureOf<json::type_error>("{" + empty + R"(,"message":1})"),
                       "type must be string, but is number"));
  EXPECT_TRUE(contains(failureOf<json::type_error>("{" + empty + R"(,"masks_base64":{"1":2}})"),
                       "type must be string, but is number"));
  EXPECT_TRUE(capture.records().empty());
}

TEST(ParseYoloResult, RejectsMalformedInstanceMaskEntries) {
  const std::string prefix = R"({"bbox_xyxy_list":[],"conf_list":[],"cls_list":[],)";
  for (const char* entry :
       {R"({"input_index":-1,"mask_base64":"A"})", R"({"input_index":2.0,"mask_base64":"A"})",
        R"({"input_index":2})", R"({"input_index":2,"mask_base64":5})", R"({"mask_base64":"A"})",
        R"("A")"}) {
    EXPECT_EQ(
        failureOf<std::runtime_error>(prefix + R"("instance_masks":[)" +
                                      R"({"input_index":0,"mask_base64":"A"},)" + entry + "]}"),
        "instance_masks entries require input_index and mask_base64")
        << entry;
  }
}

TEST(ParseYoloResult, RefusesNumbersThatIntCannotHold) {
  const auto withClass = [](const std::string& cls) {
    return R"({"bbox_xyxy_list":[[0,0,1,1]],"conf_list":[1],"cls_list":[)" + cls + "]}";
  };
  EXPECT_EQ(parse(withClass("2147483647.9")).detections[0].cls, 2147483647);
  EXPECT_EQ(parse(withClass("-2147483648.9")).detections[0].cls, -2147483648);
  for (const char* cls :
       {"2147483648", "-2147483649", "1e300", "-1e20", "18446744073709551615", "2147483648.0"}) {
    EXPECT_TRUE(contains(failureOf<std::runtime_error>(withClass(cls)), "cls_list[0] value"))
        << cls;
  }
  const std::string mask = R"({"bbox_xyxy_list":[],"conf_list":[],"cls_list":[],"instance_masks":)"
                           R"([{"input_index":0,"mask_base64":"A","height":1e10}]})";
  EXPECT_EQ(failureOf<std::runtime_error>(mask),
            "yolo_result instance_masks[0].height value 10000000000.0 is outside the range of int");

  // Beyond float range the corners become infinite; the box area stays a number.
  const auto huge = parse(R"({"bbox_xyxy_list":[[-1e39,0,1e39,0],[0,0,1e39,1]],
      "conf_list":[1e300,1],"cls_list":[1,1]})");
  EXPECT_EQ(huge.detections[0].x1, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(huge.detections[0].area, 0.F);
  EXPECT_EQ(huge.detections[1].area, std::numeric_limits<float>::infinity());
  EXPECT_EQ(huge.detections[0].conf, std::numeric_limits<float>::infinity());
}

// The JSON library keeps the last of two members of one name; the check names the first
// repeat wherever it is, and leaves text that is not JSON to the parser.
TEST(RequireUniqueMembers, NamesTheMemberGivenTwice) {
  const auto refusal = [](const std::string& text) {
    return vantorel_test::errorText<vantorel_base_utils::InputError>(
        [&] { ymp::requireUniqueMembers(text); });
  };
  EXPECT_EQ(refusal(R"({"bbox_xyxy_list":[],"cls_list":[1],"conf_list":[],"cls_list":[]})"),
            "yolo_result member cls_list is given twice; a reader would silently take one of "
            "the two");
  EXPECT_EQ(refusal(R"({"masks_base64":{"3":"A","4":"B","3":"C"}})"),
            "yolo_result member masks_base64.3 is given twice; a reader would silently take one "
            "of the two");
  EXPECT_EQ(refusal(R"({"instance_masks":[{"width":1},[{}],{"width":2,"width":3}]})"),
            "yolo_result member instance_masks[2].width is given twice; a reader would "
            "silently take one of the two");
  for (const char* passes : {R"({"a":{"a":1},"b":[{"a":1},{"a":2}]})", R"({"a":1,)", ""}) {
    EXPECT_NO_THROW(ymp::requireUniqueMembers(passes)) << passes;
  }
}

TEST(FilterParsedYolo, KeepsChosenClassesWithTheirMasks) {
  const auto input = threeDetections();
  const auto all = ymp::filterParsedYolo(input, {});
  EXPECT_EQ(indices(all), (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(classKeys(all), (std::vector<std::string>{"1", "2", "5"}));
  EXPECT_EQ(maskKeys(all), (std::vector<std::size_t>{0, 1, 2, 9}));

  const auto two = ymp::filterParsedYolo(input, {2, 5});
  EXPECT_EQ(indices(two), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(classKeys(two), (std::vector<std::string>{"2"}));
  EXPECT_EQ(maskKeys(two), (std::vector<std::size_t>{1, 2}));
  EXPECT_FALSE(two.success);
  EXPECT_EQ(two.message, "partial");

  const auto none = ymp::filterParsedYolo(input, {5});
  EXPECT_TRUE(none.detections.empty() && none.masks_base64.empty() && none.instance_masks.empty());
  EXPECT_EQ(none.message, "partial");
}

TEST(SameClassBboxNms, SuppressesWithinAClassByStrictIou) {
  LogCapture capture;
  ymp::ParsedYolo pair;
  pair.detections = {box(0, 0, 0.9F, 0, 0, 10, 10), box(1, 0, 0.8F, 1, 0, 11, 10)};
  EXPECT_EQ(indices(ymp::sameClassBboxNms(pair, 0.9F, kLogger)), (std::vector<std::size_t>{0, 1}));
  EXPECT_TRUE(capture.records().empty());
  EXPECT_EQ(indices(ymp::sameClassBboxNms(pair, 0.5F, kLogger)), (std::vector<std::size_t>{0}));
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_INFO,
                          "sameClassBboxNms: suppressed 1 / 2 detections (iou_threshold=0.500)"),
            1);

  pair.detections[1].cls = 1;
  EXPECT_EQ(ymp::sameClassBboxNms(pair, -1.F, kLogger).detections.size(), 2U);

  ymp::ParsedYolo same;
  same.detections = {box(0, 3, 0.5F, 0, 0, 4, 4), box(1, 3, 0.5F, 0, 0, 4, 4)};
  EXPECT_EQ(ymp::sameClassBboxNms(same, 1.0F, kLogger).detections.size(), 2U);
  // Equal confidences: the earlier detection survives.
  EXPECT_EQ(indices(ymp::sameClassBboxNms(same, 0.99F, kLogger)), (std::vector<std::size_t>{0}));

  ymp::ParsedYolo flat;
  flat.detections = {box(0, 3, 0.5F, 0, 0, 4, 0), box(1, 3, 0.4F, 0, 0, 4, 0)};
  EXPECT_EQ(ymp::sameClassBboxNms(flat, -1.F, kLogger).detections.size(), 2U);
}

TEST(SameClassBboxNms, SuppressedBoxesSuppressNothingAndOrderIsKept) {
  ymp::ParsedYolo chain = threeDetections();
  // R (index 0) < Q (index 2) < P (index 1) in confidence; P-Q and Q-R overlap, P-R do not.
  chain.detections = {box(0, 2, 0.5F, 8, 0, 18, 10), box(1, 2, 0.9F, 0, 0, 10, 10),
                      box(2, 2, 0.7F, 4, 0, 14, 10)};
  const auto kept = ymp::sameClassBboxNms(chain, 0.3F, kLogger);
  EXPECT_EQ(indices(kept), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(maskKeys(kept), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(classKeys(kept), (std::vector<std::string>{"2"}));

  // IoU uses the stored area, not one recomputed from the corners.
  ymp::ParsedYolo stored;
  stored.detections = {box(0, 0, 0.9F, 0, 0, 10, 10), box(1, 0, 0.8F, 0, 0, 10, 10)};
  stored.detections[1].area = 1000.F;  // IoU = 100 / 1000
  EXPECT_EQ(ymp::sameClassBboxNms(stored, 0.2F, kLogger).detections.size(), 2U);

  // A NaN confidence ranks last instead of breaking the sort.
  stored.detections[0].conf = std::nanf("");
  stored.detections[1].area = 100.F;
  EXPECT_EQ(indices(ymp::sameClassBboxNms(stored, 0.5F, kLogger)), (std::vector<std::size_t>{1}));
}

namespace {

// Boxes on a coarse grid, so that touching, nested, identical and empty boxes are common;
// now and then an infinite or NaN corner, a stored area that disagrees with the corners, or
// a NaN or repeated confidence.
ymp::ParsedYolo randomBoxes(std::mt19937& random, std::size_t count) {
  std::uniform_int_distribution<int> coordinate(0, 12);
  std::uniform_int_distribution<int> percent(0, 99);
  const float inf = std::numeric_limits<float>::infinity();
  const float odd_values[] = {inf, -inf, std::nanf("")};
  ymp::ParsedYolo parsed;
  for (std::size_t i = 0; i < count; ++i) {
    float corners[4];
    for (float& c : corners) {
      c = static_cast<float>(coordinate(random)) * 0.5F;
      if (percent(random) < 2) {
        c = odd_values[static_cast<std::size_t>(percent(random)) % 3];
      }
    }
    const float conf =
        percent(random) < 3 ? std::nanf("") : static_cast<float>(percent(random) % 7);
    ymp::YoloDetection d =
        box(i, percent(random) % 3, conf, corners[0], corners[1], corners[2], corners[3]);
    if (percent(random) < 3) {
      d.area = static_cast<float>(coordinate(random));
    }
    parsed.detections.push_back(d);
  }
  return parsed;
}

}  // namespace

TEST(SameClassBboxNms, KeepsExactlyWhatComparingEveryPairKeeps) {
  const LogCapture quiet;  // one INFO line per call that suppresses
  std::mt19937 random(2024);
  const float thresholds[] = {0.0F, 0.1F, 0.5F, 0.9F, 1.0F, -0.5F, std::nanf("")};
  for (int round = 0; round < 400; ++round) {
    // Every tenth round has classes large enough for the suppression's index.
    const auto count = static_cast<std::size_t>(round % 10 == 9 ? 800 + round : 1 + round % 60);
    const ymp::ParsedYolo input = randomBoxes(random, count);
    for (const float threshold : thresholds) {
      // Indices equal input positions here.
      ASSERT_EQ(indices(ymp::sameClassBboxNms(input, threshold, kLogger)),
                suppression_oracle::keptPositions(input.detections, threshold))
          << "round " << round << ", threshold " << threshold;
    }
  }
}
