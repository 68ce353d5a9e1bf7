// SPDX-License-Identifier: Apache-2.0
// The checks that keep every projected coordinate finite, shared by the construction of a
// context and by every projection call (which may be handed a context built by hand).
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_

#include <optional>
#include <string>

#include <Eigen/Core>

#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {
namespace projection_checks {

// Each returns what is wrong, or nothing.

// Focal lengths must be finite and normal (a positive denormal passes fx > 0 yet makes every
// point infinite), the principal point finite. Assumes fx > 0 and fy > 0 were checked.
std::optional<std::string> intrinsicsProblem(double fx, double fy, double cx, double cy);

// A finite, normal, positive number of metres per depth unit.
std::optional<std::string> depthScaleProblem(double depth_scale);

// Every entry finite.
std::optional<std::string> transformProblem(const char* name, const Eigen::Matrix4d& transform);

// Whether some pixel of the image, at the largest depth the window keeps, could land
// kFarthestCoordinate metres or farther along an axis of either target frame.
std::optional<std::string> rangeProblem(const ProjectionContext& ctx);

constexpr double kFarthestCoordinate = 1e38;  // floats end at 3.4e38

// Everything above and the basic conditions: a 2-D 16-bit or float single-channel image and
// positive focal lengths. Nothing for a context every projection can read.
std::optional<std::string> contextProblem(const ProjectionContext& ctx);

}  // namespace projection_checks
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_
