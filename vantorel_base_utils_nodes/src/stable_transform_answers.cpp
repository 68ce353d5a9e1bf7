// SPDX-License-Identifier: Apache-2.0
#include "stable_transform_answers.hpp"

#include <cmath>
#include <cstdio>

namespace vantorel_base_utils_nodes {
namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;

std::string frameError(const char* field, const std::string& frame) {
  if (frame.empty()) {
    return std::string(field) + " is empty";
  }
  if (frame.front() == '/') {
    return std::string(field) + " '" + frame + "' starts with '/', which tf2 frame names may not";
  }
  return "";
}

std::string durationError(const char* field, const builtin_interfaces::msg::Duration& d) {
  if (d.nanosec >= kNsPerSecond) {
    return std::string(field) + ".nanosec is " + std::to_string(d.nanosec) +
           ", not below one second";
  }
  return "";
}

std::string spreadError(const char* field, double spread) {
  if (!std::isfinite(spread)) {
    return std::string(field) + " is " + std::to_string(spread) + ", not a finite number";
  }
  return "";
}

double seconds(std::int64_t nanoseconds) {
  return static_cast<double>(nanoseconds) / static_cast<double>(kNsPerSecond);
}

std::int64_t positiveSecondsToNs(double s) {
  return static_cast<std::int64_t>(std::llround(s * static_cast<double>(kNsPerSecond)));
}

GetStableTransform::Response answerFor(const GetStableTransform::Request& request) {
  GetStableTransform::Response response;
  StableTransformStatus& status = response.status;
  status.target_frame = request.target_frame;
  status.source_frame = request.source_frame;
  status.transform.header.frame_id = request.target_frame;
  status.transform.child_frame_id = request.source_frame;
  return response;
}

}  // namespace

std::string requestError(const GetStableTransform::Request& request) {
  for (const std::string& error :
       {frameError("target_frame", request.target_frame),
        frameError("source_frame", request.source_frame),
        durationError("min_stable_duration", request.min_stable_duration),
        durationError("timeout", request.timeout),
        spreadError("max_translation_spread", request.max_translation_spread),
        spreadError("max_rotation_spread", request.max_rotation_spread)}) {
    if (!error.empty()) {
      return error;
    }
  }
  if (request.target_frame == request.source_frame) {
    return "target_frame and source_frame are both '" + request.target_frame +
           "': the transform of a frame to itself is the identity, nothing to wait for";
  }
  if (request.timeout.sec < 0) {
    return "timeout is negative (" + std::to_string(seconds(toNanoseconds(request.timeout))) +
           " s)";
  }
  return "";
}

StabilityLimits resolveLimits(const GetStableTransform::Request& request,
                              const DefaultLimits& defaults) {
  StabilityLimits limits;
  limits.max_translation_spread = request.max_translation_spread > 0.0
                                      ? request.max_translation_spread
                                      : defaults.max_translation_spread;
  limits.max_rotation_spread = request.max_rotation_spread > 0.0 ? request.max_rotation_spread
                                                                 : defaults.max_rotation_spread;
  const std::int64_t asked = toNanoseconds(request.min_stable_duration);
  limits.min_stable_duration_ns =
      asked > 0 ? asked : positiveSecondsToNs(defaults.min_stable_duration);
  return limits;
}

std::int64_t toNanoseconds(const builtin_interfaces::msg::Duration& duration) {
  return static_cast<std::int64_t>(duration.sec) * kNsPerSecond +
         static_cast<std::int64_t>(duration.nanosec);
}

builtin_interfaces::msg::Duration toDuration(std::int64_t nanoseconds) {
  builtin_interfaces::msg::Duration duration;
  duration.sec = static_cast<std::int32_t>(nanoseconds / kNsPerSecond);
  duration.nanosec = static_cast<std::uint32_t>(nanoseconds % kNsPerSecond);
  return duration;
}

TransformSample toSample(const geometry_msgs::msg::TransformStamped& transform) {
  const auto& t = transform.transform.translation;
  const auto& q = transform.transform.rotation;
  TransformSample sample;
  sample.stamp_ns = static_cast<std::int64_t>(transform.header.stamp.sec) * kNsPerSecond +
                    static_cast<std::int64_t>(transform.header.stamp.nanosec);
  sample.translation = Eigen::Vector3d(t.x, t.y, t.z);
  sample.rotation = Eigen::Quaterniond(q.w, q.x, q.y, q.z).normalized();
  return sample;
}

bool isStatic(const geometry_msgs::msg::TransformStamped& transform) {
  return transform.header.stamp.sec == 0 && transform.header.stamp.nanosec == 0;
}

std::string describeWindow(const StabilityWindow& window) {
  const WindowStatistics& s = window.statistics();
  const StabilityLimits& limits = window.limits();
  char text[320];
  std::snprintf(text, sizeof(text),
                "%zu sample%s held within both spreads for %.3f s of the required %.3f s "
                "(translation spread %.4f m of %.4f m, rotation spread %.4f rad of %.4f rad)",
                s.sample_count, s.sample_count == 1 ? "" : "s", seconds(s.held_ns),
                seconds(limits.min_stable_duration_ns), s.translation_spread,
                limits.max_translation_spread, s.rotation_spread, limits.max_rotation_spread);
  return text;
}

GetStableTransform::Response rejectedAnswer(const GetStableTransform::Request& request,
                                            const std::string& why) {
  return noTransformAnswer(request, "invalid request: " + why);
}

GetStableTransform::Response noTransformAnswer(const GetStableTransform::Request& request,
                                               const std::string& message) {
  GetStableTransform::Response response = answerFor(request);
  response.status.status = StableTransformStatus::STATUS_NO_TRANSFORM;
  response.status.message = message;
  return response;
}

GetStableTransform::Response staticAnswer(const GetStableTransform::Request& request,
                                          const geometry_msgs::msg::TransformStamped& transform,
                                          const StabilityLimits& limits) {
  GetStableTransform::Response response = answerFor(request);
  StableTransformStatus& status = response.status;
  status.transform = transform;
  status.status = StableTransformStatus::STATUS_STABLE;
  status.stable = true;
  // A static transform has held still as long as anyone can ask for.
  status.stable_duration = toDuration(limits.min_stable_duration_ns);
  status.sample_count = 1;
  status.message = "static transform (every link from /tf_static): it never moves";
  response.success = true;
  return response;
}

GetStableTransform::Response stableAnswer(const GetStableTransform::Request& request,
                                          const StabilityWindow& window,
                                          const geometry_msgs::msg::TransformStamped& latest) {
  const WindowStatistics& s = window.statistics();
  GetStableTransform::Response response =
      unsettledAnswer(request, StableTransformStatus::STATUS_STABLE, window, latest,
                      "stable: " + describeWindow(window));
  StableTransformStatus& status = response.status;
  auto& translation = status.transform.transform.translation;
  translation.x = s.mean_translation.x();
  translation.y = s.mean_translation.y();
  translation.z = s.mean_translation.z();
  auto& rotation = status.transform.transform.rotation;
  rotation.x = s.mean_rotation.x();
  rotation.y = s.mean_rotation.y();
  rotation.z = s.mean_rotation.z();
  rotation.w = s.mean_rotation.w();
  status.stable = true;
  status.stable_duration = toDuration(s.held_ns);
  response.success = true;
  return response;
}

GetStableTransform::Response unsettledAnswer(const GetStableTransform::Request& request,
                                             std::uint8_t status_code,
                                             const StabilityWindow& window,
                                             const geometry_msgs::msg::TransformStamped& latest,
                                             const std::string& message) {
  const WindowStatistics& s = window.statistics();
  GetStableTransform::Response response = answerFor(request);
  StableTransformStatus& status = response.status;
  status.transform = latest;
  status.status = status_code;
  status.sample_count = static_cast<std::uint32_t>(s.sample_count);
  status.translation_spread = s.translation_spread;
  status.rotation_spread = s.rotation_spread;
  status.message = message;
  return response;
}

}  // namespace vantorel_base_utils_nodes
