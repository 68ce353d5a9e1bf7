// SPDX-License-Identifier: Apache-2.0
// What one frame may hold: detector results and depth images beyond the budgets are refused
// naming the budget and the input, and a budget set beyond the machine ends in one line,
// never in std::bad_alloc escaping. The tool runs under an address-space limit, so that a
// regression fails rather than swaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "frame_outputs.hpp"
#include "points_json.hpp"
#include "support/png_claiming.hpp"
#include "support/temp_dir.hpp"
#include "tools/frame_points/tool_run.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const fs::path kSample = VANTOREL_SAMPLE_DIR_SOURCE;
// Far above what any refusal here needs, far below what the inputs would take unbounded.
const std::string kOneGigabyte = "ulimit -v 1048576;";

std::string base64Of(const std::vector<uchar>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? bytes[i + k] : 0U);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63U] : '=';
    }
  }
  return text;
}

// `boxes` detections covering the whole 640x480 frame, detection k of class k % classes,
// each cut from an all-set class mask: a few kilobytes that ask for millions of points.
std::string wholeFrameBoxes(int boxes, int classes) {
  json detections = {{"bbox_xyxy_list", json::array()},
                     {"cls_list", json::array()},
                     {"conf_list", json::array()},
                     {"masks_base64", json::object()}};
  std::vector<uchar> png;
  cv::imencode(".png", cv::Mat(480, 640, CV_8UC1, cv::Scalar(255)), png);
  const std::string mask = base64Of(png);
  for (int k = 0; k < boxes; ++k) {
    detections["bbox_xyxy_list"].push_back({0, 0, 640, 480});
    detections["cls_list"].push_back(k % classes);
    detections["conf_list"].push_back(0.9);
    detections["masks_base64"][std::to_string(k % classes)] = mask;
  }
  return detections.dump();
}

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;  // their shadow memory does not fit under an address-space limit
#else
  return false;
#endif
}

bool isOneLine(const std::string& text) {
  return !text.empty() && text.find('\n') == text.size() - 1;
}

vantorel_tools::FrameResult twoClassResult() {
  vantorel_tools::FrameResult result;
  result.frame = vantorel_tools::TargetFrame::ArmBase;
  for (const int cls : {10, 2, 10}) {  // "10" sorts before "2" as the document's keys do
    vantorel_base_utils::InstancePoints instance;
    instance.detection.cls = cls;
    instance.detection.index = result.detections.instances.size();
    instance.detection.conf = 0.1F * static_cast<float>(cls);
    instance.detection.x2 = 1e-7F;
    instance.detection.y2 = 3e38F;
    if (instance.detection.index != 2) {  // the last one has no points: centroid null
      instance.points = {{0.1F, -2.5F, 1e-3F}, {1.0F / 3.0F, 0.0F, 7.0F}};
      instance.centroid = {0.2166, -1.25, 3.0005};
    }
    result.detections.instances.push_back(instance);
  }
  return result;
}

}  // namespace

TEST(FrameBudgets, PointsJsonWrittenAsAStreamIsTheDocumentsBytes) {
  const vantorel_tools::FrameResult empty;
  for (const vantorel_tools::FrameResult& result : {twoClassResult(), empty}) {
    std::ostringstream streamed;
    vantorel_tools::writePointsJson(streamed, result);
    EXPECT_EQ(streamed.str(), vantorel_tools::pointsDocument(result).dump(1));
  }
}

TEST(FrameBudgets, PixelsBeyondThePointBudgetAreRefusedBeforeAnyPointIsMade) {
  vantorel_test::TempDir dir;
  // Class 5 is one detection with a 50x90 instance mask: 4500 pixels, within its mask budget.
  const auto run = vantorel_test::runFrameTool(
      dir,
      vantorel_test::sampleInputs() + " --classes 5 --max-points 4000 --output " + dir.file("out"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vantorel_frame_points: " + (kSample / "detections.json").string() +
                         ": the masks give 4500 pixels to project, more than the budget of 4000 "
                         "points (raise --max-points to project them)\n");
  EXPECT_FALSE(fs::exists(dir.file("out")));
}

TEST(FrameBudgets, ResultsAskingForMillionsOfPointsAreRefusedNamingTheBudget) {
  if (underSanitizer()) {
    GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
  }
  vantorel_test::TempDir dir;
  // 30 classes of one whole-frame box each (9.2 million points), and 100 or 400 whole-frame
  // boxes of one class without suppression (31 or 123 million).
  const std::pair<int, int> cases[] = {{30, 30}, {100, 1}, {400, 1}};
  for (const auto& [boxes, classes] : cases) {
    const std::string name = "boxes_" + std::to_string(boxes) + ".json";
    vantorel_test::writeFile(dir.file(name), wholeFrameBoxes(boxes, classes));
    const auto run =
        vantorel_test::runFrameTool(dir,
                                    vantorel_test::sampleInputs() + " --nms off --detections " +
                                        dir.file(name) + " --output " + dir.file("out"),
                                    kOneGigabyte);
    EXPECT_EQ(run.status, 1) << name << ": " << run.err;
    EXPECT_TRUE(isOneLine(run.err)) << run.err;
    EXPECT_NE(run.err.find(name + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("raise --max-points"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir.file("out"))) << name;
  }
}

TEST(FrameBudgets, BudgetsBeyondTheMachineEndInOneLineNotAnAbort) {
  if (underSanitizer()) {
    GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
  }
  vantorel_test::TempDir dir;
  vantorel_test::writeFile(dir.file("boxes.json"), wholeFrameBoxes(100, 1));
  const auto run = vantorel_test::runFrameTool(
      dir,
      vantorel_test::sampleInputs() + " --nms off --max-points 1000000000 --detections " +
          dir.file("boxes.json") + " --output " + dir.file("out"),
      "ulimit -v 786432;");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(isOneLine(run.err)) << run.err;
  EXPECT_NE(run.err.find("out of memory within the budgets (--max-points 1000000000"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("camera"), std::string::npos) << "blamed on the camera: " << run.err;
}

TEST(FrameBudgets, DepthImagesAreBoundedBeforeDecodingWhateverTheCalibrationSays) {
  if (underSanitizer()) {
    GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
  }
  vantorel_test::TempDir dir;
  std::string camera = vantorel_test::readFile((kSample / "camera.yaml").string());
  camera.replace(camera.find("image_width: 640"), 16, "image_width: 12000");
  camera.replace(camera.find("image_height: 480"), 17, "image_height: 12000");
  vantorel_test::writeFile(dir.file("camera.yaml"), camera);
  // A small file whose header claims the calibration's 144 million pixels.
  vantorel_test::writeFile(dir.file("depth.png"),
                           vantorel_test::pngClaiming(12000, 12000, std::string(64, '\0')));
  const std::string inputs = vantorel_test::sampleInputs() + " --camera " +
                             dir.file("camera.yaml") + " --depth " + dir.file("depth.png") +
                             " --output " + dir.file("out");
  const auto refused = vantorel_test::runFrameTool(dir, inputs, kOneGigabyte);
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_EQ(refused.err, "vantorel_frame_points: " + dir.file("depth.png") +
                             ": depth image is 12000x12000, more than the 8388608 pixels "
                             "allowed (raise --max-depth-pixels to read it)\n");
  // Raised, the header passes and the broken data is what is refused.
  const auto raised =
      vantorel_test::runFrameTool(dir, inputs + " --max-depth-pixels 144000000", kOneGigabyte);
  EXPECT_EQ(raised.status, 1) << raised.err;
  EXPECT_EQ(raised.err.find("--max-depth-pixels"), std::string::npos) << raised.err;
}
