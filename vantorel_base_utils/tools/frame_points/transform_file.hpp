// SPDX-License-Identifier: Apache-2.0
// The frame tool's transform files, in the library's document form or as ROS prints a
// transform message.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_

#include <cstddef>
#include <string>

#include <Eigen/Core>

namespace vantorel_tools {

// Largest transform document read.
constexpr std::size_t kMaxTransformFileBytes = std::size_t{1} << 20;
// Largest transform read as YAML. yaml-cpp spends several hundred bytes on every node, and a
// transform as ros2 topic echo prints it is a few hundred bytes of text.
constexpr std::size_t kMaxYamlTransformFileBytes = std::size_t{64} << 10;

// The transform at `path`, in one of two forms:
// - the transform JSON document {"translation": [x, y, z], "rotation": [w, x, y, z]}, scalar
//   first, with exactly 3 and 4 numbers;
// - a geometry_msgs/msg/Transform or TransformStamped with named members, as YAML (what
//   `ros2 topic echo` prints) or JSON: translation {x, y, z} and rotation {x, y, z, w}, exactly
//   those members, each a finite number; a TransformStamped may hold header and
//   child_frame_id beside transform, which are not read.
// Throws InputError naming the file and, for a bad member, the member.
Eigen::Matrix4d readTransformFile(const std::string& path);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_
