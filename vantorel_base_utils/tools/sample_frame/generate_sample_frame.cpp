// SPDX-License-Identifier: Apache-2.0
// Renders the bundled sample frame: a camera looking down on a floor with a few boxes,
// by casting one ray per pixel. Writes the depth PNG, the detector result, the camera
// calibration, both transforms and the boxes' true top-face centres. With --sequence N it
// writes N such frames into numbered folders, the arm base moved and the camera mount
// tilted a little from frame to frame, each frame rendered from its own pose.
// Deterministic: the same binary writes the same files.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "detection/mask_codec.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace {

using nlohmann::json;
namespace vbu = vantorel_base_utils;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kFocal = 525.0;
constexpr double kCx = 319.5;
constexpr double kCy = 239.5;

// An axis-aligned box standing on the floor of the map frame.
struct Box {
  int cls;
  double centre_x;
  double centre_y;
  double size_x;
  double size_y;
  double height;
  bool instance_mask;  // sent as a mask cut to its box rather than in the class mask
};

const std::vector<Box> kBoxes = {
    {0, 0.70, 0.95, 0.20, 0.15, 0.10, false},
    {0, 1.30, 0.60, 0.12, 0.12, 0.25, false},
    {2, 1.05, 0.45, 0.25, 0.10, 0.05, false},
    {5, 0.85, 1.12, 0.10, 0.18, 0.15, true},
};

Eigen::Matrix4d armBaseToMap() {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()).matrix();
  m.topRightCorner<3, 1>() = Eigen::Vector3d(1.0, 0.5, 0.0);
  return m;
}

// The camera looks straight down: optical z is -Z of the arm base, image rows run along -X.
Eigen::Matrix4d cameraToArmBase() {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() << 0, -1, 0, -1, 0, 0, 0, 0, -1;
  m.topRightCorner<3, 1>() = Eigen::Vector3d(0.3, 0.0, 1.2);
  return m;
}

struct Pose {
  Eigen::Matrix4d camera_to_arm_base;
  Eigen::Matrix4d arm_base_to_map;
};

const Pose kSamplePose{cameraToArmBase(), armBaseToMap()};

// A repeatable value in [-1, 1] for frame `k` and quantity `which`.
double wobble(int k, int which) {
  return std::sin(1.7 * k + 2.3 * which);
}

Eigen::Matrix4d rigid(const Eigen::Matrix3d& rotation, const Eigen::Vector3d& translation) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = rotation;
  m.topRightCorner<3, 1>() = translation;
  return m;
}

// Frame `k` of a sequence: the arm base moved by up to 2 cm and turned by up to 1.5 degrees
// on the floor, the camera mount tilted by up to 1 degree. Frame 0 is the sample frame; every
// box stays in view.
Pose sequencePose(int k) {
  if (k == 0) {
    return kSamplePose;
  }
  constexpr double kDegree = M_PI / 180.0;
  const Eigen::Matrix4d base_motion =
      rigid(Eigen::AngleAxisd(1.5 * kDegree * wobble(k, 0), Eigen::Vector3d::UnitZ()).matrix(),
            Eigen::Vector3d(0.02 * wobble(k, 1), 0.02 * wobble(k, 2), 0.0));
  const Eigen::Matrix3d tilt =
      (Eigen::AngleAxisd(kDegree * wobble(k, 3), Eigen::Vector3d::UnitX()) *
       Eigen::AngleAxisd(kDegree * wobble(k, 4), Eigen::Vector3d::UnitY()))
          .matrix();
  return {cameraToArmBase() * rigid(tilt, Eigen::Vector3d::Zero()), base_motion * armBaseToMap()};
}

struct Hit {
  double depth;  // along the optical axis, metres
  int box;       // index into kBoxes of the top face hit, or -1
};

// Nearest intersection of the ray origin + t * dir with the floor (z = 0) and the boxes.
Hit castRay(const Eigen::Vector3d& origin, const Eigen::Vector3d& dir) {
  Hit hit{-origin.z() / dir.z(), -1};
  for (std::size_t i = 0; i < kBoxes.size(); ++i) {
    const Box& b = kBoxes[i];
    const Eigen::Vector3d lo(b.centre_x - b.size_x / 2, b.centre_y - b.size_y / 2, 0.0);
    const Eigen::Vector3d hi(b.centre_x + b.size_x / 2, b.centre_y + b.size_y / 2, b.height);
    double t_near = 0.0;
    double t_far = std::numeric_limits<double>::infinity();
    int entry_axis = -1;
    for (int axis = 0; axis < 3; ++axis) {
      double t0 = (lo[axis] - origin[axis]) / dir[axis];
      double t1 = (hi[axis] - origin[axis]) / dir[axis];
      if (t0 > t1)
        std::swap(t0, t1);
      if (t0 > t_near) {
        t_near = t0;
        entry_axis = axis;
      }
      t_far = std::min(t_far, t1);
    }
    if (t_near <= t_far && t_near < hit.depth) {
      // Only the top face counts as the object; a side face is what a detector would miss.
      hit = {t_near, entry_axis == 2 ? static_cast<int>(i) : -2};
    }
  }
  return hit;
}

struct Rendering {
  cv::Mat depth_mm;                   // CV_16UC1
  std::vector<cv::Mat> object_masks;  // CV_8UC1 per box, 255 on its top face
};

Rendering render(const Pose& pose) {
  const Eigen::Matrix4d camera_to_map = pose.arm_base_to_map * pose.camera_to_arm_base;
  const Eigen::Matrix3d rotation = camera_to_map.topLeftCorner<3, 3>();
  const Eigen::Vector3d origin = camera_to_map.topRightCorner<3, 1>();
  Rendering r{cv::Mat(kHeight, kWidth, CV_16UC1), {}};
  for (std::size_t i = 0; i < kBoxes.size(); ++i) {
    r.object_masks.emplace_back(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
  }
  std::uint32_t noise = 12345;  // fixed-seed LCG: a sprinkle of sensor holes on the floor
  for (int v = 0; v < kHeight; ++v) {
    for (int u = 0; u < kWidth; ++u) {
      const Eigen::Vector3d ray((u - kCx) / kFocal, (v - kCy) / kFocal, 1.0);
      const Hit hit = castRay(origin, rotation * ray);
      noise = noise * 1664525u + 1013904223u;
      const bool hole = hit.box == -1 && (noise >> 24) < 3;
      r.depth_mm.at<std::uint16_t>(v, u) =
          hole ? 0 : static_cast<std::uint16_t>(std::lround(hit.depth * 1000.0));
      if (hit.box >= 0) {
        r.object_masks[static_cast<std::size_t>(hit.box)].at<std::uint8_t>(v, u) = 255;
      }
    }
  }
  return r;
}

json boxOf(const cv::Mat& mask) {
  const cv::Rect rect = cv::boundingRect(mask);
  return json::array({rect.x, rect.y, rect.x + rect.width, rect.y + rect.height});
}

json detectorResult(const Rendering& r) {
  json result = {{"success", true},
                 {"message", "sample frame"},
                 {"bbox_xyxy_list", json::array()},
                 {"conf_list", json::array()},
                 {"cls_list", json::array()},
                 {"masks_base64", json::object()},
                 {"instance_masks", json::array()}};
  std::vector<std::pair<int, cv::Mat>> class_masks;
  auto class_mask = [&](int cls) -> cv::Mat& {
    for (auto& [c, m] : class_masks) {
      if (c == cls)
        return m;
    }
    class_masks.emplace_back(cls, cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(0)));
    return class_masks.back().second;
  };
  auto add_detection = [&](const json& box, double conf, int cls) {
    result["bbox_xyxy_list"].push_back(box);
    result["conf_list"].push_back(conf);
    result["cls_list"].push_back(cls);
  };
  for (std::size_t i = 0; i < kBoxes.size(); ++i) {
    const Box& b = kBoxes[i];
    const json box = boxOf(r.object_masks[i]);
    add_detection(box, 0.95 - 0.05 * static_cast<double>(i), b.cls);
    if (b.instance_mask) {
      const cv::Rect rect = cv::boundingRect(r.object_masks[i]);
      result["instance_masks"].push_back(
          {{"input_index", i},
           {"mask_base64", vbu::yolo_mask_parser::encodeMaskBase64(r.object_masks[i](rect))},
           {"width", rect.width},
           {"height", rect.height}});
    } else {
      class_mask(b.cls) |= r.object_masks[i];
    }
  }
  // A second, weaker box on the first object, which same-class suppression should drop.
  json shifted = boxOf(r.object_masks[0]);
  shifted[0] = shifted[0].get<int>() + 4;
  shifted[2] = shifted[2].get<int>() + 4;
  add_detection(shifted, 0.40, kBoxes[0].cls);
  for (const auto& [cls, mask] : class_masks) {
    result["masks_base64"][std::to_string(cls)] = vbu::yolo_mask_parser::encodeMaskBase64(mask);
  }
  return result;
}

std::string calibrationYaml() {
  std::ostringstream out;
  out << "image_width: " << kWidth << "\nimage_height: " << kHeight
      << "\ncamera_name: sample_camera\n"
      << "camera_matrix:\n  rows: 3\n  cols: 3\n  data: [" << kFocal << ", 0, " << kCx << ", 0, "
      << kFocal << ", " << kCy << ", 0, 0, 1]\n"
      << "distortion_model: plumb_bob\n"
      << "distortion_coefficients:\n  rows: 1\n  cols: 5\n  data: [0, 0, 0, 0, 0]\n"
      << "rectification_matrix:\n  rows: 3\n  cols: 3\n  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]\n"
      << "projection_matrix:\n  rows: 3\n  cols: 4\n  data: [" << kFocal << ", 0, " << kCx
      << ", 0, 0, " << kFocal << ", " << kCy << ", 0, 0, 0, 1, 0]\n";
  return out.str();
}

json expectedCentres() {
  json objects = json::array();
  for (std::size_t i = 0; i < kBoxes.size(); ++i) {
    const Box& b = kBoxes[i];
    objects.push_back({{"cls", b.cls},
                       {"detection_index", i},
                       {"top_centre_map", {b.centre_x, b.centre_y, b.height}}});
  }
  return {{"objects", objects}};
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

bool writeFrame(const std::string& dir, const Pose& pose) {
  const Rendering rendering = render(pose);
  bool ok = cv::imwrite(dir + "/depth.png", rendering.depth_mm);
  ok = ok && writeText(dir + "/detections.json", detectorResult(rendering).dump(1) + "\n");
  ok = ok && writeText(dir + "/camera.yaml", calibrationYaml());
  ok = ok && writeText(dir + "/camera_to_arm_base.json",
                       vbu::toTransformJson(pose.camera_to_arm_base).dump(2) + "\n");
  ok = ok && writeText(dir + "/arm_base_to_map.json",
                       vbu::toTransformJson(pose.arm_base_to_map).dump(2) + "\n");
  ok = ok && writeText(dir + "/expected_objects.json", expectedCentres().dump(2) + "\n");
  if (!ok) {
    std::cerr << "failed to write the sample frame into " << dir << "\n";
  }
  return ok;
}

// frame_0000, frame_0001, ...: names that sort in frame order.
std::string sequenceFolderName(int k) {
  char name[32];
  std::snprintf(name, sizeof(name), "frame_%04d", k);
  return name;
}

bool writeSequence(const std::string& dir, int count) {
  for (int k = 0; k < count; ++k) {
    const std::string folder = dir + "/" + sequenceFolderName(k);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !writeFrame(folder, sequencePose(k))) {
      std::cerr << "failed to write " << folder << "\n";
      return false;
    }
  }
  std::cout << count << " frames written to " << dir << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--sequence") {
    int count = 0;
    const char* end = args[1].data() + args[1].size();
    if (std::from_chars(args[1].data(), end, count).ptr != end || count < 1 || count > 10000) {
      std::cerr << "--sequence takes a frame count from 1 to 10000\n";
      return 2;
    }
    return writeSequence(args[2], count) ? 0 : 1;
  }
  if (args.size() != 1) {
    std::cerr << "usage: " << argv[0] << " [--sequence N] OUTPUT_DIR\n";
    return 2;
  }
  if (!writeFrame(args[0], kSamplePose)) {
    return 1;
  }
  std::cout << "sample frame written to " << args[0] << "\n";
  return 0;
}
