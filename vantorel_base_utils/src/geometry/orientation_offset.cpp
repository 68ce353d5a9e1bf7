// SPDX-License-Identifier: Apache-2.0
// Target poses shifted along the tool axis, the force vector or a horizontal ray.
#include "vantorel_base_utils/orientation_offset.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "geometry/vector_norm.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_base_utils {

namespace {

using nlohmann::json;
using Vec3 = std::array<double, 3>;

// Below this norm a direction or quaternion is treated as absent.
constexpr double kMinNorm = 1e-9;

// NaN fails this test as well: such a direction is absent, not a reason to write NaN.
bool usableNorm(double n) {
  return n >= kMinNorm;
}

// The array under `key` when `pose` holds one of at least `min_size` elements.
const json* arrayMember(const json& pose, const char* key, std::size_t min_size) {
  if (!pose.is_object()) {
    return nullptr;
  }
  const auto it = pose.find(key);
  if (it == pose.end() || !it->is_array() || it->size() < min_size) {
    return nullptr;
  }
  return &*it;
}

bool numbersAt(const json& array, std::size_t first, std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (!array[i].is_number()) {
      return false;
    }
  }
  return true;
}

const json* numberArray(const json& pose, const char* key, std::size_t min_size,
                        std::size_t first_number, std::size_t number_count) {
  const json* array = arrayMember(pose, key, min_size);
  return array != nullptr && numbersAt(*array, first_number, number_count) ? array : nullptr;
}

std::optional<Vec3> toolZAxis(const json& pose) {
  const json* orientation = numberArray(pose, "pose", 7, 3, 4);
  if (orientation == nullptr) {
    return std::nullopt;
  }
  const auto& values = *orientation;
  std::array<double, 4> q = {values[3].get<double>(), values[4].get<double>(),
                             values[5].get<double>(), values[6].get<double>()};  // w, x, y, z
  if (!usableNorm(normaliseInPlace(q))) {
    return std::nullopt;
  }
  return rotateByQuat({0.0, 0.0, 1.0}, q[1], q[2], q[3], q[0]);
}

std::optional<Vec3> forceDirection(const json& pose) {
  const json* force = numberArray(pose, "force_vector", 3, 0, 3);
  if (force == nullptr) {
    return std::nullopt;
  }
  Vec3 direction = {(*force)[0].get<double>(), (*force)[1].get<double>(),
                    (*force)[2].get<double>()};
  if (!usableNorm(normaliseInPlace(direction))) {
    return std::nullopt;
  }
  return direction;
}

// Distance along the ray (origin o, unit direction d) to the foot of the perpendicular of
// the nearest point ahead of o within `radius` of the ray.
std::optional<double> nearestHit(const std::vector<Vec3>& points, double ox, double oy, double dx,
                                 double dy, double radius) {
  double best = std::numeric_limits<double>::max();
  for (const Vec3& point : points) {
    const double rx = point[0] - ox;
    const double ry = point[1] - oy;
    const double t = dx * rx + dy * ry;
    if (t <= 0.0) {
      continue;
    }
    const double ex = rx - dx * t;
    const double ey = ry - dy * t;
    if (ex * ex + ey * ey > radius * radius) {
      continue;
    }
    best = std::min(t, best);
  }
  if (best < std::numeric_limits<double>::max()) {
    return best;
  }
  return std::nullopt;
}

}  // namespace

void applyOrientationOffset(json& pose, double offset, OffsetDirection direction) {
  const json* end_pose = numberArray(pose, "end_pose", 3, 0, 3);
  if (end_pose == nullptr) {
    return;
  }
  const std::optional<Vec3> d =
      direction == OffsetDirection::ToolZ ? toolZAxis(pose) : forceDirection(pose);
  if (!d) {
    return;
  }
  json& target = pose["end_pose"];
  for (std::size_t i = 0; i < 3; ++i) {
    target[i] = target[i].get<double>() + (*d)[i] * offset;
  }
}

void applyOrientationOffsetXYRaycast(json& pose, const std::vector<Vec3>& points, double ray_radius,
                                     double fallback_offset, OffsetDirection direction) {
  const json* force = numberArray(pose, "force_vector", 3, 0, 2);
  const json* end_pose = numberArray(pose, "end_pose", 3, 0, 3);
  if (force == nullptr || end_pose == nullptr) {
    applyOrientationOffset(pose, fallback_offset, direction);
    return;
  }
  std::array<double, 2> horizontal = {(*force)[0].get<double>(), (*force)[1].get<double>()};
  if (!usableNorm(normaliseInPlace(horizontal))) {
    applyOrientationOffset(pose, fallback_offset, direction);
    return;
  }
  const double dx = horizontal[0];
  const double dy = horizontal[1];
  const double px = (*end_pose)[0].get<double>();
  const double py = (*end_pose)[1].get<double>();
  const double s = nearestHit(points, px, py, dx, dy, ray_radius).value_or(fallback_offset);
  json& target = pose["end_pose"];
  target[0] = dx * s + px;
  target[1] = dy * s + py;
}

}  // namespace vantorel_base_utils
