// SPDX-License-Identifier: Apache-2.0
// Offsets of the target position of a pose document along the tool axis, the force
// vector or a horizontal ray. The document is changed completely or not at all.
#ifndef VANTOREL_BASE_UTILS__ORIENTATION_OFFSET_HPP_
#define VANTOREL_BASE_UTILS__ORIENTATION_OFFSET_HPP_

#include <array>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

enum class OffsetDirection : std::int32_t {
  ForceVector = 0,  // the unit vector of "force_vector"
  ToolZ = 1,        // (0, 0, 1) rotated by the "pose" quaternion [_, _, _, w, x, y, z]
};

// Moves "end_pose"[0..2] by `offset` along `direction`. A document without the needed
// keys, shapes or a usable direction (norm below 1e-9) is left unchanged.
VANTOREL_BASE_UTILS_PUBLIC void applyOrientationOffset(nlohmann::json& pose, double offset,
                                                       OffsetDirection direction);

// Casts a ray from "end_pose" (x, y) along the horizontal part of "force_vector" and moves
// the target to the foot of the perpendicular of the nearest point ahead within
// `ray_radius` of the ray, or `fallback_offset` along the ray when none qualifies.
// "end_pose"[2] is untouched. Without a usable ray it falls back to
// applyOrientationOffset(pose, fallback_offset, direction).
VANTOREL_BASE_UTILS_PUBLIC void applyOrientationOffsetXYRaycast(
    nlohmann::json& pose, const std::vector<std::array<double, 3>>& points, double ray_radius,
    double fallback_offset, OffsetDirection direction);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__ORIENTATION_OFFSET_HPP_
