// SPDX-License-Identifier: Apache-2.0
// Serves GetStableTransform, publishes each answer's status as a StableTransformStatus, and
// calls its own service over the middleware, using the installed vantorel_base_utils as a
// ROS 2 user would. Exits 0 only when the response arrives and carries exactly the transform
// the server computed, and the published status arrives equal to the response's.

#include <unistd.h>

#include <Eigen/Core>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <rclcpp/rclcpp.hpp>
#include <string>
#include <vantorel_base_utils/msg/stable_transform_status.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>
#include <vantorel_base_utils/vantorel_base_utils.hpp>

namespace {

using vantorel_base_utils::msg::StableTransformStatus;
using vantorel_base_utils::srv::GetStableTransform;
using namespace std::chrono_literals;

constexpr auto kWait = 15s;

// The server's one transform, camera to map, in the library's JSON form: half a metre ahead,
// a quarter to the right, 1.2 m up, turned 90 degrees about z ({w, x, y, z}).
const char* const kCameraToMap =
    R"({"translation": [0.5, -0.25, 1.2], "rotation": [0.7071067811865476, 0, 0, 0.7071067811865476]})";

GetStableTransform::Response answer(const GetStableTransform::Request& request) {
  const Eigen::Matrix4d camera_to_map =
      vantorel_base_utils::toEigenTransform(nlohmann::json::parse(kCameraToMap));
  GetStableTransform::Response response;
  StableTransformStatus& status = response.status;
  status.target_frame = request.target_frame;
  status.source_frame = request.source_frame;
  status.transform.header.frame_id = request.target_frame;
  status.transform.child_frame_id = request.source_frame;
  status.transform.transform = vantorel_base_utils::toGeometryTransform(camera_to_map);
  status.status = StableTransformStatus::STATUS_STABLE;
  status.stable = true;
  status.stable_duration = request.min_stable_duration;
  status.sample_count = 1;
  status.message = "fixed transform";
  response.success = true;
  vantorel_base_utils::Logger::info("serving " + request.source_frame + " -> " +
                                    request.target_frame + ": " +
                                    vantorel_base_utils::toTransformJson(camera_to_map).dump());
  return response;
}

bool near(double a, double b) {
  return std::abs(a - b) < 1e-9;
}

// What the client must get back for `request`: the frames it asked for and the transform of
// kCameraToMap (a quaternion and its negation are the same rotation).
bool matches(const GetStableTransform::Request& request,
             const GetStableTransform::Response& response) {
  const auto& status = response.status;
  const auto& t = status.transform.transform.translation;
  const auto& q = status.transform.transform.rotation;
  const double h = std::sqrt(0.5);
  const double alignment = q.w * h + q.z * h;
  return response.success && status.status == StableTransformStatus::STATUS_STABLE &&
         status.stable && status.target_frame == request.target_frame &&
         status.source_frame == request.source_frame &&
         status.transform.child_frame_id == request.source_frame &&
         status.stable_duration == request.min_stable_duration && near(t.x, 0.5) &&
         near(t.y, -0.25) && near(t.z, 1.2) && near(std::abs(alignment), 1.0) && near(q.x, 0.0) &&
         near(q.y, 0.0);
}

bool fail(const std::string& why) {
  vantorel_base_utils::Logger::error("stable_transform_roundtrip: " + why);
  return false;
}

bool roundTrip() {
  // A namespace of its own, so that other runs on the same machine and domain stay apart.
  auto node = std::make_shared<rclcpp::Node>("stable_transform_roundtrip",
                                             "roundtrip_" + std::to_string(::getpid()));
  // Latched, so that the subscription gets the status even if it matches late.
  const auto qos = rclcpp::QoS(1).reliable().transient_local();
  auto publisher = node->create_publisher<StableTransformStatus>("stable_transform_status", qos);
  auto service = node->create_service<GetStableTransform>(
      "get_stable_transform",
      [publisher](const std::shared_ptr<GetStableTransform::Request> request,
                  std::shared_ptr<GetStableTransform::Response> response) {
        *response = answer(*request);
        publisher->publish(response->status);
      });
  std::shared_ptr<const StableTransformStatus> published;
  auto subscription = node->create_subscription<StableTransformStatus>(
      "stable_transform_status", qos,
      [&published](StableTransformStatus::ConstSharedPtr status) { published = status; });
  auto client = node->create_client<GetStableTransform>("get_stable_transform");

  if (!client->wait_for_service(kWait))
    return fail("the service did not appear");
  auto request = std::make_shared<GetStableTransform::Request>();
  request->target_frame = "map";
  request->source_frame = "camera_optical";
  request->min_stable_duration.sec = 2;
  request->timeout.sec = 5;

  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  auto future = client->async_send_request(request);
  if (executor.spin_until_future_complete(future, kWait) != rclcpp::FutureReturnCode::SUCCESS)
    return fail("no response arrived");
  const auto response = future.get();
  if (!matches(*request, *response))
    return fail("the response differs from what the server computed");

  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (!published && std::chrono::steady_clock::now() < deadline)
    executor.spin_once(100ms);
  if (!published)
    return fail("the published status did not arrive");
  if (!(*published == response->status))
    return fail("the published status differs from the response's");
  vantorel_base_utils::Logger::info("round trip ok: response and published status match");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  const bool ok = roundTrip();
  rclcpp::shutdown();
  return ok ? 0 : 1;
}
