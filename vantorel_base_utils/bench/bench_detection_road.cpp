// SPDX-License-Identifier: Apache-2.0
// The whole detection road of one camera frame, from the detector's JSON text to 3D points
// per instance, through the library and through a straightforward road built the obvious way
// in this file (cv::imdecode, a byte-by-byte scan, a scalar projection loop). Both give the
// same pixels and points, checked before anything is timed; then both run in alternation,
// one thread, wall time per frame, and each stage's median and spread over the rounds are
// printed. The frame: 1280x720, 4 whole-frame class masks, 12 detections, 4 with their own
// instance mask (detection_frame.hpp). Beside them runs projectDetections, the same road in
// one call that also writes the labelled cloud and every instance's centroid and extent; its
// points are checked equal to the library road's first.
//
//   bench_detection_road [--rounds=N] [--frames=N]   (other arguments are ignored)
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <rclcpp/logger.hpp>

#include "detection/mask_codec.hpp"
#include "detection_frame.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/detection_points.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using vantorel_bench::frame;
using vantorel_bench::kHeight;
using vantorel_bench::kWidth;

namespace {

using Clock = std::chrono::steady_clock;
using Pixel = std::array<int, 2>;
using PixelMap = ymp::InstancePixelMap;
using Points = std::vector<vbu::ProjectedPoint>;

constexpr double kFx = 910.0;
constexpr double kFy = 905.0;
constexpr double kCx = 641.5;
constexpr double kCy = 359.5;
constexpr int kMinDepth = 1;
constexpr int kMaxDepth = 10000;
constexpr float kIouThreshold = 0.5F;

enum Stage { kParse, kFilterNms, kPixelMap, kProjection, kStages };
constexpr std::array<const char*, kStages> kStageNames = {
    "parse", "filter + NMS", "pixel map (decode, cut, scan)", "projection to map"};

struct RoadResult {
  PixelMap pixels;
  std::vector<Points> points;  // per instance, in the map's order
};

// A tilted floor 0.8 to 1.5 m away with a few holes, in millimetres.
cv::Mat makeDepth() {
  cv::Mat depth(kHeight, kWidth, CV_16UC1);
  for (int v = 0; v < kHeight; ++v) {
    for (int u = 0; u < kWidth; ++u) {
      const bool hole = (u * 7 + v * 13) % 97 == 0;
      depth.at<std::uint16_t>(v, u) = hole ? 0 : static_cast<std::uint16_t>(800 + v + u / 4);
    }
  }
  return depth;
}

Eigen::Matrix4d rigid(double angle, const Eigen::Vector3d& axis, const Eigen::Vector3d& shift) {
  return (Eigen::Translation3d(shift) * Eigen::AngleAxisd(angle, axis.normalized())).matrix();
}

// A camera looking down and ahead from the arm, and the arm's base somewhere in the map.
Eigen::Matrix4d cameraToArmBase() {
  return rigid(-2.2, Eigen::Vector3d(1.0, 0.1, 0.05), Eigen::Vector3d(0.1, 0.02, 0.7));
}

Eigen::Matrix4d armBaseToMap() {
  return rigid(1.1, Eigen::Vector3d::UnitZ(), Eigen::Vector3d(-4.0, 7.5, 0.0));
}

vbu::CameraModel cameraModel() {
  vbu::CameraModel model;
  model.fx = kFx;
  model.fy = kFy;
  model.cx = kCx;
  model.cy = kCy;
  return model;
}

const cv::Mat& depthImage() {
  static const cv::Mat depth = makeDepth();
  return depth;
}

class StageClock {
 public:
  explicit StageClock(std::array<double, kStages>& seconds) : seconds_(seconds) {}
  void lap(Stage stage) {
    const Clock::time_point now = Clock::now();
    seconds_[stage] += std::chrono::duration<double>(now - last_).count();
    last_ = now;
  }

 private:
  std::array<double, kStages>& seconds_;
  Clock::time_point last_ = Clock::now();
};

// ---- The library's road -----------------------------------------------------------------

RoadResult libraryRoad(const std::string& text, std::array<double, kStages>& seconds) {
  static const rclcpp::Logger logger = rclcpp::get_logger("bench");
  StageClock clock(seconds);
  RoadResult result;
  const ymp::ParsedYolo parsed = ymp::parseYoloResult(text, logger);
  clock.lap(kParse);
  const ymp::ParsedYolo kept =
      ymp::sameClassBboxNms(ymp::filterParsedYolo(parsed, {}), kIouThreshold, logger);
  clock.lap(kFilterNms);
  result.pixels = ymp::buildInstancePixelMap(kept, logger);
  clock.lap(kPixelMap);
  const vbu::ProjectionContext context = vbu::createProjectionContext(
      depthImage(), cameraModel(), cameraToArmBase(), armBaseToMap(), kMinDepth, kMaxDepth, logger);
  for (const auto& [key, instances] : result.pixels) {
    for (Points& points : vbu::projectImagePointSetsToMap(context, instances)) {
      result.points.push_back(std::move(points));
    }
  }
  clock.lap(kProjection);
  return result;
}

// ---- The road in one call ---------------------------------------------------------------

vbu::DetectionPoints roadInOneCall(const std::string& text) {
  static const rclcpp::Logger logger = rclcpp::get_logger("bench");
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = kIouThreshold;
  options.depth.min_depth = kMinDepth;
  options.depth.max_depth = kMaxDepth;
  return vbu::projectDetections(text, depthImage(), cameraModel(),
                                Eigen::Isometry3d(cameraToArmBase()),
                                Eigen::Isometry3d(armBaseToMap()), options, logger);
}

// Instance k of the labelled cloud is the k-th instance of the pixel map, whose points the
// library road lists in that order.
bool samePointsAsTheLibraryRoad(const vbu::DetectionPoints& road, const RoadResult& library) {
  if (road.instances.size() != library.points.size()) {
    return false;
  }
  for (const vbu::InstancePoints& instance : road.instances) {
    const Points& expected = library.points[instance.instance_id - 1];
    if (instance.points.size() != expected.size() ||
        (!expected.empty() && std::memcmp(instance.points.data(), expected.data(),
                                          expected.size() * sizeof(expected[0])) != 0)) {
      return false;
    }
  }
  std::size_t total = 0;
  for (const Points& points : library.points) {
    total += points.size();
  }
  return road.labelled_cloud.width == total;
}

// ---- The straightforward road -----------------------------------------------------------

struct Detection {
  std::size_t index;
  float x1, y1, x2, y2;
  int cls;
  float conf;
  float area;
};

struct Document {
  std::vector<Detection> detections;
  std::map<std::string, std::string> class_masks;
  std::map<std::size_t, std::string> instance_masks;
};

Document parseObviously(const std::string& text) {
  const nlohmann::json doc = nlohmann::json::parse(text);
  Document out;
  const auto& boxes = doc.at("bbox_xyxy_list");
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    Detection d{i,
                boxes[i][0].get<float>(),
                boxes[i][1].get<float>(),
                boxes[i][2].get<float>(),
                boxes[i][3].get<float>(),
                doc.at("cls_list")[i].get<int>(),
                doc.at("conf_list")[i].get<float>(),
                0.0F};
    d.area = std::max(d.x2 - d.x1, 0.0F) * std::max(d.y2 - d.y1, 0.0F);
    out.detections.push_back(d);
  }
  for (const auto& [key, value] : doc.at("masks_base64").items()) {
    out.class_masks[key] = value.get<std::string>();
  }
  for (const auto& entry : doc.at("instance_masks")) {
    out.instance_masks[entry.at("input_index").get<std::size_t>()] =
        entry.at("mask_base64").get<std::string>();
  }
  return out;
}

float iou(const Detection& a, const Detection& b) {
  const float w = std::max(std::min(a.x2, b.x2) - std::max(a.x1, b.x1), 0.0F);
  const float h = std::max(std::min(a.y2, b.y2) - std::max(a.y1, b.y1), 0.0F);
  const float inter = w * h;
  const float uni = a.area + b.area - inter;
  return uni > 0.0F ? inter / uni : 0.0F;
}

std::vector<Detection> suppressObviously(const std::vector<Detection>& detections) {
  std::vector<std::size_t> order(detections.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return detections[a].conf > detections[b].conf;
  });
  std::vector<bool> dropped(detections.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (dropped[order[i]]) {
      continue;
    }
    for (std::size_t j = i + 1; j < order.size(); ++j) {
      const Detection& a = detections[order[i]];
      const Detection& b = detections[order[j]];
      if (!dropped[order[j]] && a.cls == b.cls && iou(a, b) > kIouThreshold) {
        dropped[order[j]] = true;
      }
    }
  }
  std::vector<Detection> kept;
  for (std::size_t i = 0; i < detections.size(); ++i) {
    if (!dropped[i]) {
      kept.push_back(detections[i]);
    }
  }
  return kept;
}

cv::Mat imdecodeBase64(const std::string& text) {
  return cv::imdecode(ymp::decodeBase64(text),
                      cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION);
}

void scanBytewise(const cv::Mat& mask, int ox, int oy, std::vector<Pixel>& out) {
  for (int r = 0; r < mask.rows; ++r) {
    for (int c = 0; c < mask.cols; ++c) {
      if (mask.at<std::uint8_t>(r, c) != 0) {
        out.push_back({ox + c, oy + r});
      }
    }
  }
}

PixelMap pixelMapObviously(const Document& doc, const std::vector<Detection>& kept) {
  std::map<std::string, cv::Mat> class_masks;
  for (const auto& [key, text] : doc.class_masks) {
    class_masks[key] = imdecodeBase64(text);
  }
  PixelMap map;
  for (const Detection& d : kept) {
    cv::Mat window;
    int ox = 0;
    int oy = 0;
    const auto instance = doc.instance_masks.find(d.index);
    if (instance != doc.instance_masks.end()) {
      window = imdecodeBase64(instance->second);
      ox = static_cast<int>(d.x1);
      oy = static_cast<int>(d.y1);
    } else if (class_masks.count(std::to_string(d.cls)) != 0) {
      const cv::Mat& mask = class_masks[std::to_string(d.cls)];
      const int left = std::clamp(static_cast<int>(d.x1), 0, mask.cols);
      const int right = std::clamp(static_cast<int>(d.x2), 0, mask.cols);
      const int top = std::clamp(static_cast<int>(d.y1), 0, mask.rows);
      const int bottom = std::clamp(static_cast<int>(d.y2), 0, mask.rows);
      if (left < right && top < bottom) {
        window = mask(cv::Range(top, bottom), cv::Range(left, right)).clone();
        ox = left;
        oy = top;
      }
    }
    if (window.empty()) {
      continue;
    }
    std::vector<Pixel> pixels;
    scanBytewise(window, ox, oy, pixels);
    if (!pixels.empty()) {
      map[std::to_string(d.cls)].push_back(std::move(pixels));
    }
  }
  return map;
}

Points projectObviously(const std::vector<Pixel>& pixels, const Eigen::Matrix4d& camera_to_map) {
  Points points;
  const cv::Mat& depth = depthImage();
  for (const auto& [u, v] : pixels) {
    if (u < 0 || u >= depth.cols || v < 0 || v >= depth.rows) {
      continue;
    }
    const int d = depth.at<std::uint16_t>(v, u);
    if (d < kMinDepth || d > kMaxDepth) {
      continue;
    }
    const double z = d * 0.001;
    const Eigen::Vector4d p =
        camera_to_map * Eigen::Vector4d((u - kCx) * z / kFx, (v - kCy) * z / kFy, z, 1.0);
    points.emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()),
                        static_cast<float>(p.z()));
  }
  return points;
}

RoadResult straightforwardRoad(const std::string& text, std::array<double, kStages>& seconds) {
  StageClock clock(seconds);
  RoadResult result;
  const Document doc = parseObviously(text);
  clock.lap(kParse);
  const std::vector<Detection> kept = suppressObviously(doc.detections);
  clock.lap(kFilterNms);
  result.pixels = pixelMapObviously(doc, kept);
  clock.lap(kPixelMap);
  const Eigen::Matrix4d camera_to_map = armBaseToMap() * cameraToArmBase();
  for (const auto& [key, instances] : result.pixels) {
    for (const auto& pixels : instances) {
      result.points.push_back(projectObviously(pixels, camera_to_map));
    }
  }
  clock.lap(kProjection);
  return result;
}

// ---- Check, time, report ----------------------------------------------------------------

bool nearlyEqual(float a, float b) {
  return std::abs(a - b) <= 1e-5F * std::max(1.0F, std::abs(a));
}

bool sameResult(const RoadResult& a, const RoadResult& b) {
  if (a.pixels != b.pixels || a.points.size() != b.points.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    if (a.points[i].size() != b.points[i].size()) {
      return false;
    }
    for (std::size_t k = 0; k < a.points[i].size(); ++k) {
      const auto& p = a.points[i][k];
      const auto& q = b.points[i][k];
      if (!nearlyEqual(p.x, q.x) || !nearlyEqual(p.y, q.y) || !nearlyEqual(p.z, q.z)) {
        return false;
      }
    }
  }
  return true;
}

struct Spread {
  double median;
  double low;   // 10th percentile
  double high;  // 90th percentile
};

Spread spreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) {
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
  };
  return {at(0.5), at(0.1), at(0.9)};
}

int argument(int argc, char** argv, const std::string& name, int fallback) {
  const std::string prefix = "--" + name + "=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(prefix, 0) == 0) {
      return std::max(1, std::atoi(arg.c_str() + prefix.size()));
    }
  }
  return fallback;
}

void printRow(const char* name, const Spread& ours, const Spread& theirs) {
  std::printf("| %s | %.3f (%.3f to %.3f) | %.3f (%.3f to %.3f) | %.1fx |\n", name, ours.median,
              ours.low, ours.high, theirs.median, theirs.low, theirs.high,
              theirs.median / ours.median);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argument(argc, argv, "rounds", 31);
  const int frames = argument(argc, argv, "frames", 5);
  const std::string& text = frame().json_text;
  std::array<double, kStages> ignored{};
  const RoadResult ours = libraryRoad(text, ignored);
  const RoadResult theirs = straightforwardRoad(text, ignored);
  std::size_t pixel_count = 0;
  for (const Points& points : ours.points) {
    pixel_count += points.size();
  }
  if (!sameResult(ours, theirs) || ours.points.size() != 12 ||
      !samePointsAsTheLibraryRoad(roadInOneCall(text), ours)) {
    std::fprintf(stderr, "the roads disagree; nothing timed\n");
    return 1;
  }
  // Per round and stage: milliseconds per frame, averaged over `frames` frames.
  std::array<std::vector<double>, kStages + 1> library_ms;
  std::array<std::vector<double>, kStages + 1> plain_ms;
  std::vector<double> ratios;
  std::vector<double> one_call_ms;
  for (int round = 0; round < rounds; ++round) {
    std::array<double, kStages> library_s{};
    std::array<double, kStages> plain_s{};
    const auto run_library = [&] {
      for (int f = 0; f < frames; ++f) {
        libraryRoad(text, library_s);
      }
    };
    const auto run_plain = [&] {
      for (int f = 0; f < frames; ++f) {
        straightforwardRoad(text, plain_s);
      }
    };
    const auto run_one_call = [&] {
      const Clock::time_point start = Clock::now();
      for (int f = 0; f < frames; ++f) {
        roadInOneCall(text);
      }
      one_call_ms.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames);
    };
    if (round % 2 == 0) {  // alternate which road goes first
      run_library();
      run_one_call();
      run_plain();
    } else {
      run_plain();
      run_one_call();
      run_library();
    }
    double library_total = 0.0;
    double plain_total = 0.0;
    for (int s = 0; s < kStages; ++s) {
      library_ms[s].push_back(library_s[s] * 1e3 / frames);
      plain_ms[s].push_back(plain_s[s] * 1e3 / frames);
      library_total += library_s[s] * 1e3 / frames;
      plain_total += plain_s[s] * 1e3 / frames;
    }
    library_ms[kStages].push_back(library_total);
    plain_ms[kStages].push_back(plain_total);
    ratios.push_back(plain_total / library_total);
  }
  std::printf(
      "detection road, %dx%d frame, 12 instances, %zu projected points; %d rounds of %d "
      "frames each road, alternating; wall ms per frame, median (10th to 90th "
      "percentile)\n\n",
      kWidth, kHeight, pixel_count, rounds, frames);
  std::printf("| stage | library | straightforward | ratio |\n|---|---|---|---|\n");
  for (int s = 0; s < kStages; ++s) {
    printRow(kStageNames[s], spreadOf(library_ms[s]), spreadOf(plain_ms[s]));
  }
  printRow("whole road", spreadOf(library_ms[kStages]), spreadOf(plain_ms[kStages]));
  const Spread ratio = spreadOf(ratios);
  std::printf("\nwhole-road ratio per round: median %.2fx (%.2fx to %.2fx)\n", ratio.median,
              ratio.low, ratio.high);
  const Spread one_call = spreadOf(one_call_ms);
  std::printf(
      "projectDetections, the library road in one call with the labelled cloud, centroids and "
      "extents: %.3f ms (%.3f to %.3f)\n",
      one_call.median, one_call.low, one_call.high);
  return 0;
}
