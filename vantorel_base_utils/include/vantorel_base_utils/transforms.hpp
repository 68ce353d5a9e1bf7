// SPDX-License-Identifier: Apache-2.0
// Rigid transforms between JSON documents, geometry_msgs messages and 4x4 matrices.
//
// The transform JSON document is {"translation": [x, y, z], "rotation": [w, x, y, z]}:
// the quaternion is stored scalar part first.
#ifndef VANTOREL_BASE_UTILS__TRANSFORMS_HPP_
#define VANTOREL_BASE_UTILS__TRANSFORMS_HPP_

#include <array>
#include <cstddef>
#include <string>

#include <Eigen/Core>
#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <nlohmann/json.hpp>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Reads the transform JSON document. The quaternion is normalised (a zero quaternion
// gives the identity rotation). Errors are the JSON library's own exceptions: a missing
// key or short array is out_of_range, a value of the wrong kind is type_error.
VANTOREL_BASE_UTILS_PUBLIC Eigen::Matrix4d toEigenTransform(const nlohmann::json& j);
VANTOREL_BASE_UTILS_PUBLIC Eigen::Matrix4d toEigenTransform(const geometry_msgs::msg::Transform& t);
// The header is ignored.
VANTOREL_BASE_UTILS_PUBLIC Eigen::Matrix4d toEigenTransform(
    const geometry_msgs::msg::TransformStamped& t);
// An unchanged copy: no re-orthonormalisation, bottom row kept as given.
VANTOREL_BASE_UTILS_PUBLIC Eigen::Matrix4d toEigenTransform(const Eigen::Matrix4d& m);

// The rotation is the quaternion of the upper-left 3x3 block, neither normalised nor
// brought to a canonical sign. The bottom row of m is ignored.
VANTOREL_BASE_UTILS_PUBLIC geometry_msgs::msg::Transform toGeometryTransform(
    const Eigen::Matrix4d& m);
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json toTransformJson(const Eigen::Matrix4d& m);

// Largest transform file readTransformFile reads, and the largest it reads as YAML: yaml-cpp
// spends several hundred bytes on every node, and a transform as ros2 topic echo prints it is
// a few hundred bytes of text.
constexpr std::size_t kMaxTransformFileBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxYamlTransformFileBytes = std::size_t{64} << 10;

// The transform stored at `path`, its numbers as written there, in one of two forms:
// - the transform JSON document {"translation": [x, y, z], "rotation": [w, x, y, z]} (the
//   quaternion scalar first), exactly 3 and 4 numbers;
// - a geometry_msgs/msg/Transform or TransformStamped with named members, as YAML (what
//   ros2 topic echo prints) or JSON: translation {x, y, z} and rotation {x, y, z, w}, exactly
//   those members, each a finite number; a TransformStamped's header and child_frame_id are
//   left unread.
// Text that is not JSON is read as YAML. Everything refused is an InputError naming the file:
// kUnreadable for a file that is missing, no regular file or over kMaxTransformFileBytes,
// kOverLimit for YAML beyond the YAML reader's bounds, kMalformed for the rest, including a
// member given twice and a second YAML document.
VANTOREL_BASE_UTILS_PUBLIC geometry_msgs::msg::Transform readTransformFile(const std::string& path);

// Rotates v by the quaternion (qx, qy, qz, qw), which is assumed to be of unit length.
VANTOREL_BASE_UTILS_PUBLIC std::array<double, 3> rotateByQuat(const std::array<double, 3>& v,
                                                              double qx, double qy, double qz,
                                                              double qw);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__TRANSFORMS_HPP_
