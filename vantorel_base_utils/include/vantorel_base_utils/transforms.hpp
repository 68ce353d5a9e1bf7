// SPDX-License-Identifier: Apache-2.0
// Rigid transforms between JSON documents, geometry_msgs messages and 4x4 matrices.
//
// The transform JSON document is {"translation": [x, y, z], "rotation": [w, x, y, z]}:
// the quaternion is stored scalar part first.
#ifndef VANTOREL_BASE_UTILS__TRANSFORMS_HPP_
#define VANTOREL_BASE_UTILS__TRANSFORMS_HPP_

#include <array>

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

// Rotates v by the quaternion (qx, qy, qz, qw), which is assumed to be of unit length.
VANTOREL_BASE_UTILS_PUBLIC std::array<double, 3> rotateByQuat(const std::array<double, 3>& v,
                                                              double qx, double qy, double qz,
                                                              double qw);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__TRANSFORMS_HPP_
