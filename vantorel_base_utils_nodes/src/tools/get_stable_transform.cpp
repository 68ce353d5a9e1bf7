// SPDX-License-Identifier: Apache-2.0
// Asks a stable-transform server for a transform and prints the answer, for shells and
// scripts on machines without the `ros2` command line:
//   get_stable_transform TARGET SOURCE [--timeout S] [--min-stable S] [--translation M]
//                        [--rotation RAD] [--service NAME] [--ros-args ...]
// Exits 0 when the answer is STABLE, 1 when it is not, 2 when no answer came.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>

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
  if (args.size() < 3) {
    return usage();
  }
  auto request = std::make_shared<GetStableTransform::Request>();
  request->target_frame = args[1];
  request->source_frame = args[2];
  request->timeout = duration(5.0);
  std::string service = "get_stable_transform";
  for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
    const std::string& name = args[i];
    const double value = std::atof(args[i + 1].c_str());
    if (name == "--timeout") {
      request->timeout = duration(value);
    } else if (name == "--min-stable") {
      request->min_stable_duration = duration(value);
    } else if (name == "--translation") {
      request->max_translation_spread = value;
    } else if (name == "--rotation") {
      request->max_rotation_spread = value;
    } else if (name == "--service") {
      service = args[i + 1];
    } else {
      return usage();
    }
  }
  auto node = std::make_shared<rclcpp::Node>("get_stable_transform");
  auto client = node->create_client<GetStableTransform>(service);
  int status = 2;
  if (!client->wait_for_service(std::chrono::seconds(10))) {
    std::fprintf(stderr, "no service %s\n", client->get_service_name());
  } else {
    auto future = client->async_send_request(request);
    const auto wait = std::chrono::seconds(request->timeout.sec + 10);
    if (rclcpp::spin_until_future_complete(node, future, wait) ==
        rclcpp::FutureReturnCode::SUCCESS) {
      const auto answer = future.get();
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
    } else {
      std::fprintf(stderr, "no answer from %s\n", client->get_service_name());
    }
  }
  rclcpp::shutdown();
  return status;
}
