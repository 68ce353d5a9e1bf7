// SPDX-License-Identifier: Apache-2.0
// StableTransformServer: serves GetStableTransform ("hand me the transform between two
// frames once it has held still") from tf2, and publishes every answer's status.
//
// Service `get_stable_transform` (vantorel_base_utils/srv/GetStableTransform); topic
// `stable_transform_status` (vantorel_base_utils/msg/StableTransformStatus). Both names are
// relative, so namespaces and remapping apply.
//
// Each request gets its own window of samples of the latest transform, taken at
// `sample_rate_hz` and counted only when the transform's stamp advances. The request is
// answered STABLE as soon as its window has stayed within both spreads for the minimum
// duration (the answer is the window's mean), NO_TRANSFORM when no transform came before its
// timeout, TIMEOUT when one came but did not settle. A transform from /tf_static is stable at
// once. Answers are deferred: no request blocks the executor, and any number run at once.
//
// Parameters (doubles): sample_rate_hz (30.0), default_max_translation_spread (0.005 m),
// default_max_rotation_spread (0.01 rad), default_min_stable_duration (1.0 s). The defaults
// serve requests that give their limits as zero or less; changes apply to later requests.
#ifndef VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_SERVER_HPP_
#define VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_SERVER_HPP_

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/msg/stable_transform_status.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>

#include "vantorel_base_utils_nodes/visibility_control.hpp"

namespace vantorel_base_utils_nodes {

class VANTOREL_BASE_UTILS_NODES_PUBLIC StableTransformServer : public rclcpp::Node {
 public:
  using GetStableTransform = vantorel_base_utils::srv::GetStableTransform;
  using StableTransformStatus = vantorel_base_utils::msg::StableTransformStatus;

  // Throws std::invalid_argument naming the parameter when one is out of range.
  explicit StableTransformServer(const rclcpp::NodeOptions& options = rclcpp::NodeOptions());
  // Answers the requests still waiting (not stable, "shutting down") before it goes.
  ~StableTransformServer() override;

  StableTransformServer(const StableTransformServer&) = delete;
  StableTransformServer& operator=(const StableTransformServer&) = delete;

  // Requests being sampled now, waiting to settle or to time out.
  std::size_t pendingRequestCount() const;

 private:
  struct PendingRequest;
  struct Settings {
    double sample_rate_hz = 30.0;
    double max_translation_spread = 0.005;
    double max_rotation_spread = 0.01;
    double min_stable_duration = 1.0;
  };

  void declareParameters();
  rcl_interfaces::msg::SetParametersResult onSetParameters(
      const std::vector<rclcpp::Parameter>& parameters);
  void startSampleTimer();

  void onRequest(const std::shared_ptr<rmw_request_id_t>& header,
                 const std::shared_ptr<GetStableTransform::Request>& request);
  void onSampleTick();
  void answerAllPending(const char* reason);
  void respond(rmw_request_id_t header, GetStableTransform::Response response);

  mutable std::mutex mutex_;  // guards everything below
  Settings settings_;
  std::vector<std::unique_ptr<PendingRequest>> pending_;
  std::shared_ptr<tf2_ros::Buffer> buffer_;
  std::shared_ptr<tf2_ros::TransformListener> listener_;
  rclcpp::Service<GetStableTransform>::SharedPtr service_;
  rclcpp::Publisher<StableTransformStatus>::SharedPtr status_publisher_;
  rclcpp::TimerBase::SharedPtr sample_timer_;
  rclcpp::node_interfaces::OnSetParametersCallbackHandle::SharedPtr parameters_handle_;
  rclcpp::PreShutdownCallbackHandle pre_shutdown_handle_;
};

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__STABLE_TRANSFORM_SERVER_HPP_
