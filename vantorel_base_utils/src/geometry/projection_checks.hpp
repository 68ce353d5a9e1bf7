// SPDX-License-Identifier: Apache-2.0
// The checks that keep every projected coordinate finite, shared by the construction of a
// context and by every projection call (which may be handed a context built by hand).
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_

#include <optional>
#include <string>

#include <Eigen/Core>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {
namespace projection_checks {

// Each returns what is wrong as the InputError to throw, naming the input, or nothing; the
// reason is kNotFinite unless noted.

// Focal lengths must be finite and normal (a positive denormal passes fx > 0 yet makes every
// point infinite), the principal point finite. Assumes fx > 0 and fy > 0 were checked.
std::optional<InputError> intrinsicsProblem(double fx, double fy, double cx, double cy);

// A finite, normal, positive number of metres per depth unit (kOutOfRange otherwise).
std::optional<InputError> depthScaleProblem(double depth_scale);

// Every entry finite.
std::optional<InputError> transformProblem(const char* name, const Eigen::Matrix4d& transform);

// Whether some pixel of the image, at the largest depth the window keeps, could land
// kFarthestCoordinate metres or farther along an axis of either target frame.
std::optional<InputError> rangeProblem(const ProjectionContext& ctx);

constexpr double kFarthestCoordinate = 1e38;  // floats end at 3.4e38

// Everything above and the basic conditions: a 2-D 16-bit or float single-channel image and
// positive focal lengths (kMalformed, "ProjectionContext is invalid"). Nothing for a context
// every projection can read.
std::optional<InputError> contextProblem(const ProjectionContext& ctx);

}  // namespace projection_checks
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_CHECKS_HPP_
