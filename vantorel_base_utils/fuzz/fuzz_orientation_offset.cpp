// SPDX-License-Identifier: Apache-2.0
// Arbitrary pose documents with fuzzed offsets, radius and ray points. Both offsets touch
// nothing but "end_pose"[0..2] and change the document completely or not at all; the ray
// variant either moves only x and y or does exactly what its fallback does.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/orientation_offset.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxPoints = 8;

bool numbersAt(const json& pose, const char* key, std::size_t first, std::size_t count) {
  if (!pose.is_object() || !pose.contains(key)) {
    return false;
  }
  const json& array = pose.at(key);
  if (!array.is_array() || array.size() < 3) {
    return false;
  }
  for (std::size_t i = first; i < first + count; ++i) {
    if (!array[i].is_number()) {
      return false;
    }
  }
  return true;
}

// Whether the ray itself runs (rather than the fallback): both arrays usable and a
// horizontal force direction of norm 1e-9 or more, scaled so huge components still count.
bool rayRuns(const json& pose) {
  if (!numbersAt(pose, "force_vector", 0, 2) || !numbersAt(pose, "end_pose", 0, 3)) {
    return false;
  }
  const double fx = pose["force_vector"][0].get<double>();
  const double fy = pose["force_vector"][1].get<double>();
  const double scale = std::max(std::fabs(fx), std::fabs(fy));
  return std::isfinite(scale) && scale > 0.0 && scale * std::hypot(fx / scale, fy / scale) >= 1e-9;
}

// `after` equals `before` once end_pose elements [0, count) are put back.
bool sameApartFromEndPose(const json& before, json after, std::size_t count) {
  if (numbersAt(before, "end_pose", 0, 3) && after.is_object() && after.contains("end_pose") &&
      after["end_pose"].is_array() && after["end_pose"].size() >= 3) {
    for (std::size_t i = 0; i < count; ++i) {
      after["end_pose"][i] = before["end_pose"][i];
    }
  }
  return after == before;
}

bool floatsAt(const json& pose, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!pose["end_pose"][i].is_number_float()) {
      return false;
    }
  }
  return true;
}

void checkOffset(const json& before, double offset, vbu::OffsetDirection direction) {
  json after = before;
  vbu::applyOrientationOffset(after, offset, direction);
  VANTOREL_FUZZ_CHECK(sameApartFromEndPose(before, after, 3));
  VANTOREL_FUZZ_CHECK(after == before || floatsAt(after, 3));
}

void checkRaycast(const json& before, const std::vector<std::array<double, 3>>& points,
                  double radius, double fallback, vbu::OffsetDirection direction) {
  json after = before;
  vbu::applyOrientationOffsetXYRaycast(after, points, radius, fallback, direction);
  if (!rayRuns(before)) {
    json expected = before;
    vbu::applyOrientationOffset(expected, fallback, direction);
    VANTOREL_FUZZ_CHECK(sameApartFromEndPose(expected, after, 0));
    return;
  }
  VANTOREL_FUZZ_CHECK(sameApartFromEndPose(before, after, 2));
  VANTOREL_FUZZ_CHECK(floatsAt(after, 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const double offset = in.ConsumeFloatingPoint<double>();
  const double radius = in.ConsumeFloatingPoint<double>();
  const double fallback = in.ConsumeFloatingPoint<double>();
  const auto direction = static_cast<vbu::OffsetDirection>(in.ConsumeIntegral<std::int32_t>());
  std::vector<std::array<double, 3>> points(in.ConsumeIntegralInRange<std::size_t>(0, kMaxPoints));
  for (auto& point : points) {
    for (double& coordinate : point) {
      coordinate = in.ConsumeFloatingPoint<double>();
    }
  }
  const std::vector<std::uint8_t> text = in.ConsumeRemainingBytes<std::uint8_t>();
  const json pose = json::parse(text.begin(), text.end(), nullptr, false);
  if (pose.is_discarded()) {
    return 0;
  }
  checkOffset(pose, offset, direction);
  checkRaycast(pose, points, radius, fallback, direction);
  return 0;
}
