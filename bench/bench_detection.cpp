// One synthetic 1280x720 detector frame (4 whole-frame class masks, 12 detections, 4 of them
// with their own instance mask) through each step of the detection road, and the whole road.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <rclcpp/logger.hpp>

#include "detection/mask_codec.hpp"
#include "detection/mask_scan.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kClasses = 4;
constexpr int kPerClass = 3;

struct Box {
  int cls;
  cv::Rect rect;
};

// An ellipse filling most of the box: masks with curved edges, like a detector's.
void fillEllipse(cv::Mat& mask, const cv::Rect& box) {
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

Frame makeFrame() {
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

const Frame& frame() {
  static const Frame instance = makeFrame();
  return instance;
}

void perFrame(benchmark::State& state) {
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Parse(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::parseYoloResult(frame().json_text, logger));
  }
  perFrame(state);
}

void BM_Base64Decode(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& text : frame().mask_texts) {
      benchmark::DoNotOptimize(ymp::decodeBase64(text));
    }
  }
  perFrame(state);
}

void BM_PngDecode(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& png : frame().pngs) {
      benchmark::DoNotOptimize(cv::imdecode(png, cv::IMREAD_GRAYSCALE));
    }
  }
  perFrame(state);
}

void BM_WindowCopy(benchmark::State& state) {
  for (auto _ : state) {
    for (std::size_t i = kClasses; i < frame().boxes.size(); ++i) {  // the class-mask cuts
      const Box& box = frame().boxes[i];
      benchmark::DoNotOptimize(
          frame().class_masks[static_cast<std::size_t>(box.cls)](box.rect).clone());
    }
  }
  perFrame(state);
}

void BM_PixelScan(benchmark::State& state) {
  std::size_t pixels_per_frame = 0;
  for (const auto& instances : frame().map) {
    for (const auto& pixels : instances.second) {
      pixels_per_frame += pixels.size();
    }
  }
  state.counters["pixels"] = static_cast<double>(pixels_per_frame);
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      std::vector<std::array<int, 2>> pixels;
      ymp::appendSetPixels(window, 3, 4, pixels);
      benchmark::DoNotOptimize(pixels.data());
    }
  }
  perFrame(state);
}

// The plain byte-by-byte loop with push_back, as the yardstick for the library's scan.
void BM_PixelScanBytewise(benchmark::State& state) {
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      std::vector<std::array<int, 2>> pixels;
      for (int r = 0; r < window.rows; ++r) {
        const std::uint8_t* row = window.ptr<std::uint8_t>(r);
        for (int c = 0; c < window.cols; ++c) {
          if (row[c] != 0) {
            pixels.push_back({3 + c, 4 + r});
          }
        }
      }
      benchmark::DoNotOptimize(pixels.data());
    }
  }
  perFrame(state);
}

void BM_RoiPngEncode(benchmark::State& state) {
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      benchmark::DoNotOptimize(ymp::encodeMaskBase64(window));
    }
  }
  perFrame(state);
}

void BM_MapToJson(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJson(frame().map));
  }
  perFrame(state);
}

void BM_BuildPixelMap(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::buildInstancePixelMap(frame().parsed, logger));
  }
  perFrame(state);
}

ymp::InstancePixelMap roadToPixelMap(const rclcpp::Logger& logger) {
  const auto parsed = ymp::parseYoloResult(frame().json_text, logger);
  const auto kept = ymp::sameClassBboxNms(ymp::filterParsedYolo(parsed, {}), 0.5F, logger);
  return ymp::buildInstancePixelMap(kept, logger);
}

void BM_WholeRoad(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(roadToPixelMap(logger));
  }
  perFrame(state);
}

void BM_WholeRoadWithJson(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJson(roadToPixelMap(logger)));
  }
  perFrame(state);
}

}  // namespace

BENCHMARK(BM_Parse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixelScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixelScanBytewise)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoiPngEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapToJson)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildPixelMap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeRoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeRoadWithJson)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
