// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as image points JSON, parsed and projected through a small fixed frame.
// The JSON forms must refuse exactly what the parser refuses, with the same message, and
// otherwise keep exactly the pixels on the image whose depth lies in the window.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace vbu = vantorel_base_utils;

namespace {

constexpr int kMinDepth = 100;
constexpr int kMaxDepth = 4000;

// 6 x 4 pixels; depths step through 0 and both ends of the window so some get dropped.
const vbu::ProjectionContext& frame() {
  static const vbu::ProjectionContext context = [] {
    cv::Mat depth(4, 6, CV_16UC1);
    for (int v = 0; v < depth.rows; ++v) {
      for (int u = 0; u < depth.cols; ++u) {
        depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>((u * 7 + v * 13) % 11 * 450);
      }
    }
    vbu::CameraModel model;
    model.width = 6;
    model.height = 4;
    model.fx = 5.0;
    model.fy = 6.0;
    model.cx = 2.5;
    model.cy = 1.5;
    model.intrinsics_source = vbu::IntrinsicsSource::FromK;
    Eigen::Matrix4d camera_to_arm_base = Eigen::Matrix4d::Identity();
    camera_to_arm_base.topRightCorner<3, 1>() << 0.1, -0.2, 0.3;
    Eigen::Matrix4d arm_base_to_map = Eigen::Matrix4d::Identity();
    arm_base_to_map.topLeftCorner<2, 2>() << 0.0, -1.0, 1.0, 0.0;
    return vbu::createProjectionContext(depth, model, camera_to_arm_base, arm_base_to_map,
                                        kMinDepth, kMaxDepth, vantorel_fuzz::quietLogger());
  }();
  return context;
}

std::size_t pixelsKept(const vbu::ProjectionContext& ctx,
                       const std::vector<std::array<int, 2>>& pixels) {
  std::size_t kept = 0;
  for (const auto& [u, v] : pixels) {
    if (u < 0 || v < 0 || u >= ctx.depth.cols || v >= ctx.depth.rows) {
      continue;
    }
    const int raw = ctx.depth.at<std::uint16_t>(v, u);
    kept += (raw >= ctx.min_depth && raw <= ctx.max_depth) ? 1 : 0;
  }
  return kept;
}

std::optional<std::string> refusalOf(const nlohmann::json& points,
                                     nlohmann::json (*project)(const vbu::ProjectionContext&,
                                                               const nlohmann::json&),
                                     nlohmann::json& result) {
  try {
    result = project(frame(), points);
  } catch (const std::runtime_error& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

void checkJsonForm(const nlohmann::json& points, const std::optional<std::string>& parse_refusal,
                   std::size_t kept,
                   nlohmann::json (*project)(const vbu::ProjectionContext&,
                                             const nlohmann::json&)) {
  nlohmann::json result;
  const std::optional<std::string> refusal = refusalOf(points, project, result);
  VANTOREL_FUZZ_CHECK(refusal == parse_refusal);
  if (refusal) {
    return;
  }
  VANTOREL_FUZZ_CHECK(result.is_array() && result.size() == kept);
  for (const auto& point : result) {
    VANTOREL_FUZZ_CHECK(point.is_array() && point.size() == 3 && point[0].is_number_float());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json points = nlohmann::json::parse(data, data + size, nullptr, false);
  if (points.is_discarded()) {
    return 0;
  }
  std::vector<std::array<int, 2>> pixels;
  std::optional<std::string> parse_refusal;
  try {
    pixels = vbu::parseImagePointsJson(points);
  } catch (const std::runtime_error& e) {
    parse_refusal = e.what();
  }
  const std::size_t kept = pixelsKept(frame(), pixels);
  checkJsonForm(points, parse_refusal, kept, &vbu::projectImagePointsJsonToMap);
  checkJsonForm(points, parse_refusal, kept, &vbu::projectImagePointsJsonToArmBase);
  if (!parse_refusal) {
    VANTOREL_FUZZ_CHECK(vbu::projectImagePointsToMap(frame(), pixels).size() == kept);
  }
  return 0;
}
