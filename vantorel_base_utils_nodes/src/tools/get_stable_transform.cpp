// SPDX-License-Identifier: Apache-2.0
// Asks a stable-transform server for a transform and prints the answer, for shells and
// scripts on machines without the `ros2` command line:
//   get_stable_transform TARGET SOURCE [--timeout S] [--min-stable S] [--translation M]
//                        [--rotation RAD] [--service NAME] [--ros-args ...]
// Exits 0 when the answer is STABLE, 1 when it is not, 2 when no answer came.
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>

#include "service_call.hpp"

namespace {

using vantorel_base_utils::srv::GetStableTransform;

builtin_interfaces::msg::Duration duration(double seconds) {
  builtin_interfaces::msg::Duration d;
  d.sec = static_cast<int32_t>(std::floor(seconds));
  d.nanosec = static_cast<uint32_t>(std::lround((seconds - std::floor(seconds)) * 1e9));
  return d;
}

const char* statusName(uint8_t status) {
  static const char* const names[] = {"STABLE", "SETTLING", "NO_TRANSFORM", "TIMEOUT"};
  return status < 4 ? names[status] : "UNKNOWN";
}

int usage() {
  std::fprintf(stderr,
               "usage: get_stable_transform TARGET SOURCE [--timeout S] [--min-stable S] "
               "[--translation M] [--rotation RAD] [--service NAME] [--ros-args ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = rclcpp::init_and_remove_ros_arguments(argc, argv);
  const auto options = vantorel_tools::optionPairs(args, 3);
  if (!options) {
    return usage();
  }
  auto request = std::make_shared<GetStableTransform::Request>();
  request->target_frame = args[1];
  request->source_frame = args[2];
  request->timeout = duration(5.0);
  std::string service = "get_stable_transform";
  for (const auto& [name, text] : *options) {
    const std::optional<double> value = vantorel_tools::number(text);
    if (name == "--service") {
      service = text;
    } else if (!value || *value < 0.0) {
      return usage();
    } else if (name == "--timeout") {
      request->timeout = duration(*value);
    } else if (name == "--min-stable") {
      request->min_stable_duration = duration(*value);
    } else if (name == "--translation") {
      request->max_translation_spread = *value;
    } else if (name == "--rotation") {
      request->max_rotation_spread = *value;
    } else {
      return usage();
    }
  }
  const auto answer = vantorel_tools::callOnce<GetStableTransform>(
      "get_stable_transform", service, request, std::chrono::seconds(request->timeout.sec + 10));
  int status = 2;
  if (answer) {
    const auto& s = answer->status;
    const auto& t = s.transform.transform.translation;
    const auto& q = s.transform.transform.rotation;
    std::printf("%s: %s\n", statusName(s.status), s.message.c_str());
    std::printf(
        "%s -> %s: translation [%.6f, %.6f, %.6f] rotation [x %.6f, y %.6f, z %.6f, "
        "w %.6f] stamp %d.%09u\n",
        s.source_frame.c_str(), s.target_frame.c_str(), t.x, t.y, t.z, q.x, q.y, q.z, q.w,
        s.transform.header.stamp.sec, s.transform.header.stamp.nanosec);
    std::printf(
        "samples %u, translation spread %.6f m, rotation spread %.6f rad, stable for "
        "%d.%09u s\n",
        s.sample_count, s.translation_spread, s.rotation_spread, s.stable_duration.sec,
        s.stable_duration.nanosec);
    status = answer->success ? 0 : 1;
  }
  rclcpp::shutdown();
  return status;
}
