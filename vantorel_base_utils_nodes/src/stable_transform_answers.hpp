// SPDX-License-Identifier: Apache-2.0
// What the stable-transform server answers, built from a request and a stability window:
// request checks, the limits a request asks for, and the status of each outcome. Message
// types only, no node, so that the node stays plumbing.
#ifndef VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_ANSWERS_HPP_
#define VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_ANSWERS_HPP_

#include <cstdint>
#include <string>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>

#include "stability_window.hpp"

namespace vantorel_base_utils_nodes {

using GetStableTransform = vantorel_base_utils::srv::GetStableTransform;
using StableTransformStatus = vantorel_base_utils::msg::StableTransformStatus;

// The limits that serve requests giving theirs as zero or less.
struct DefaultLimits {
  double max_translation_spread = 0.005;  // metres
  double max_rotation_spread = 0.01;      // radians
  double min_stable_duration = 1.0;       // seconds
};

// Why the request cannot be served (naming the field), or "" when it can.
std::string requestError(const GetStableTransform::Request& request);

StabilityLimits resolveLimits(const GetStableTransform::Request& request,
                              const DefaultLimits& defaults);

std::int64_t toNanoseconds(const builtin_interfaces::msg::Duration& duration);
builtin_interfaces::msg::Duration toDuration(std::int64_t nanoseconds);

TransformSample toSample(const geometry_msgs::msg::TransformStamped& transform);

// A transform whose stamp is zero comes from /tf_static along its whole chain: it never moves.
bool isStatic(const geometry_msgs::msg::TransformStamped& transform);

// "12 samples held within both spreads for 0.40 s of the required 1.00 s (...)"
std::string describeWindow(const StabilityWindow& window);

GetStableTransform::Response rejectedAnswer(const GetStableTransform::Request& request,
                                            const std::string& why);
GetStableTransform::Response noTransformAnswer(const GetStableTransform::Request& request,
                                               const std::string& message);
GetStableTransform::Response staticAnswer(const GetStableTransform::Request& request,
                                          const geometry_msgs::msg::TransformStamped& transform,
                                          const StabilityLimits& limits);
// The window's mean, stamped with its newest sample.
GetStableTransform::Response stableAnswer(const GetStableTransform::Request& request,
                                          const StabilityWindow& window,
                                          const geometry_msgs::msg::TransformStamped& latest);
// SETTLING or TIMEOUT: the latest sample and the window's spreads, not stable.
GetStableTransform::Response unsettledAnswer(const GetStableTransform::Request& request,
                                             std::uint8_t status, const StabilityWindow& window,
                                             const geometry_msgs::msg::TransformStamped& latest,
                                             const std::string& message);

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_ANSWERS_HPP_
