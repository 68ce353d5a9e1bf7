// SPDX-License-Identifier: Apache-2.0
#include "vantorel_base_utils_nodes/stable_transform_server.hpp"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <tf2/exceptions.h>
#include <rclcpp_components/register_node_macro.hpp>

#include "stability_window.hpp"
#include "stable_transform_answers.hpp"
#include "transform_listener.hpp"

namespace vantorel_base_utils_nodes {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

constexpr char kSampleRate[] = "sample_rate_hz";
constexpr char kTranslationSpread[] = "default_max_translation_spread";
constexpr char kRotationSpread[] = "default_max_rotation_spread";
constexpr char kStableDuration[] = "default_min_stable_duration";
// Above this a sample period is shorter than a tf publisher's, and the timer only costs CPU.
constexpr double kMaxSampleRate = 1000.0;
// Status messages of a burst of answers must reach a subscriber that is busy for a moment.
constexpr std::size_t kStatusDepth = 100;

rcl_interfaces::msg::ParameterDescriptor describe(const char* text) {
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.description = text;
  // So that `-p sample_rate_hz:=30` is taken as 30.0 rather than refused for its type.
  descriptor.dynamic_typing = true;
  return descriptor;
}

// The parameter's value as a number, NaN when it is not one (so that every check fails).
double numberOf(const rclcpp::ParameterValue& value) {
  switch (value.get_type()) {
    case rclcpp::ParameterType::PARAMETER_DOUBLE:
      return value.get<double>();
    case rclcpp::ParameterType::PARAMETER_INTEGER:
      return static_cast<double>(value.get<std::int64_t>());
    default:
      return std::nan("");
  }
}

// Why `value` cannot be parameter `name`, or "" when it can.
std::string parameterError(const std::string& name, const rclcpp::ParameterValue& value) {
  const double number = numberOf(value);
  const bool finite = std::isfinite(number);
  const char* rule = nullptr;
  if (name == kSampleRate && !(finite && number > 0.0 && number <= kMaxSampleRate)) {
    rule = " must be a number of Hz above 0 and at most 1000, not ";
  } else if ((name == kTranslationSpread || name == kRotationSpread) && !(finite && number > 0.0)) {
    rule = " must be a finite number above 0, not ";
  } else if (name == kStableDuration && !(finite && number >= 0.0 && number < 1e9)) {
    rule = " must be a finite number of seconds, 0 or more, not ";
  }
  return rule ? name + rule + rclcpp::to_string(value) : std::string();
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The latest transform between two frames, or why there is none.
struct Lookup {
  std::optional<geometry_msgs::msg::TransformStamped> transform;
  std::string error;
  bool refused = false;  // tf2 refuses the frame names themselves
};

Lookup lookUpLatest(const tf2_ros::Buffer& buffer, const std::string& target,
                    const std::string& source) {
  Lookup lookup;
  try {
    lookup.transform = buffer.lookupTransform(target, source, tf2::TimePointZero);
  } catch (const tf2::InvalidArgumentException& e) {
    lookup.refused = true;
    lookup.error = e.what();
  } catch (const std::exception& e) {
    lookup.error = e.what();
  }
  // tf2 ends some of its messages with a space; they are quoted inside ours.
  while (!lookup.error.empty() && std::isspace(static_cast<unsigned char>(lookup.error.back()))) {
    lookup.error.pop_back();
  }
  return lookup;
}

}  // namespace

// One request being sampled: its own window, its own deadline.
struct StableTransformServer::PendingRequest {
  PendingRequest(std::shared_ptr<rmw_request_id_t> request_header,
                 const GetStableTransform::Request& asked, const DefaultLimits& defaults,
                 SteadyTime now)
      : header(std::move(request_header)),
        request(asked),
        window(resolveLimits(asked, defaults)),
        received(now),
        deadline(now + std::chrono::nanoseconds(toNanoseconds(asked.timeout))),
        last_new_sample(now) {}

  // Takes one sample; the answer when the request is done.
  std::optional<GetStableTransform::Response> advance(const Lookup& lookup, SteadyTime now);
  // The answer for the state reached so far, when the request ends unsettled: `status` is
  // SETTLING or TIMEOUT, or NO_TRANSFORM when no transform came at all.
  GetStableTransform::Response unsettled(SteadyTime now, std::uint8_t status,
                                         const std::string& prefix) const;

  std::shared_ptr<rmw_request_id_t> header;
  GetStableTransform::Request request;
  StabilityWindow window;
  SteadyTime received;
  SteadyTime deadline;
  SteadyTime last_new_sample;
  std::optional<geometry_msgs::msg::TransformStamped> latest;
  std::string lookup_error;
};

std::optional<StableTransformServer::GetStableTransform::Response>
StableTransformServer::PendingRequest::advance(const Lookup& lookup, SteadyTime now) {
  if (lookup.refused) {
    return rejectedAnswer(request, lookup.error);
  }
  if (lookup.transform) {
    latest = lookup.transform;
    if (isStatic(*latest)) {
      return staticAnswer(request, *latest, window.limits());
    }
    if (window.add(toSample(*latest)) != StabilityWindow::AddResult::kNotNewer) {
      last_new_sample = now;
    }
    if (window.statistics().stable) {
      return stableAnswer(request, window, *latest);
    }
  } else {
    lookup_error = lookup.error;
  }
  if (now < deadline) {
    return std::nullopt;
  }
  if (deadline == received) {  // a timeout of zero asks for the state as it is
    return unsettled(now, StableTransformStatus::STATUS_SETTLING, "");
  }
  char prefix[64];
  std::snprintf(prefix, sizeof(prefix), "timed out after %.3f s: ", seconds(now - received));
  return unsettled(now, StableTransformStatus::STATUS_TIMEOUT, prefix);
}

StableTransformServer::GetStableTransform::Response
StableTransformServer::PendingRequest::unsettled(SteadyTime now, std::uint8_t status,
                                                 const std::string& prefix) const {
  if (!latest) {
    return noTransformAnswer(request, prefix + "no transform from '" + request.source_frame +
                                          "' to '" + request.target_frame + "' (" + lookup_error +
                                          ")");
  }
  // Holding still and no longer being published look alike in the spreads; the time since
  // the stamp last advanced tells them apart.
  char silence[64];
  std::snprintf(silence, sizeof(silence), "; no new sample for %.3f s",
                seconds(now - last_new_sample));
  const char* state = status == StableTransformStatus::STATUS_SETTLING ? "settling: " : "";
  return unsettledAnswer(request, status, window, *latest,
                         prefix + state + describeWindow(window) + silence);
}

StableTransformServer::StableTransformServer(const rclcpp::NodeOptions& options)
    : rclcpp::Node("stable_transform_server", options) {
  declareParameters();
  buffer_ = std::make_shared<tf2_ros::Buffer>(get_clock());
  // Lookups never wait on the listener: it spins in a thread of its own.
  listener_ = makeTransformListener(*buffer_, this);
  status_publisher_ = create_publisher<StableTransformStatus>("stable_transform_status",
                                                              rclcpp::QoS(kStatusDepth).reliable());
  // Deferred answers of a burst of requests go out together: a history of the default depth
  // would drop all but the last few of them before the clients take them.
  service_ = create_service<GetStableTransform>(
      "get_stable_transform",
      [this](std::shared_ptr<rmw_request_id_t> header,
             std::shared_ptr<GetStableTransform::Request> request) { onRequest(header, request); },
      rclcpp::ServicesQoS().keep_all());
  startSampleTimer();
  pre_shutdown_handle_ = get_node_base_interface()->get_context()->add_pre_shutdown_callback(
      [this] { answerAllPending("the ROS context is shutting down"); });
  RCLCPP_INFO(get_logger(), "serving %s, sampling at %.1f Hz", service_->get_service_name(),
              settings_.sample_rate_hz);
}

StableTransformServer::~StableTransformServer() {
  get_node_base_interface()->get_context()->remove_pre_shutdown_callback(pre_shutdown_handle_);
  answerAllPending("the server is shutting down");
}

std::size_t StableTransformServer::pendingRequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

void StableTransformServer::declareParameters() {
  const std::pair<const char*, const char*> described[] = {
      {kSampleRate, "How often each waiting request samples its transform, in Hz."},
      {kTranslationSpread, "Translation spread (m) for requests giving theirs as 0 or less."},
      {kRotationSpread, "Rotation spread (rad) for requests giving theirs as 0 or less."},
      {kStableDuration, "Minimum stable duration (s) for requests giving theirs as 0 or less."}};
  const double defaults[] = {settings_.sample_rate_hz, settings_.max_translation_spread,
                             settings_.max_rotation_spread, settings_.min_stable_duration};
  double* targets[] = {&settings_.sample_rate_hz, &settings_.max_translation_spread,
                       &settings_.max_rotation_spread, &settings_.min_stable_duration};
  for (std::size_t i = 0; i < 4; ++i) {
    const rclcpp::ParameterValue value = declare_parameter(
        described[i].first, rclcpp::ParameterValue(defaults[i]), describe(described[i].second));
    const std::string error = parameterError(described[i].first, value);
    if (!error.empty()) {
      throw std::invalid_argument("stable_transform_server: " + error);
    }
    *targets[i] = numberOf(value);
  }
  parameters_handle_ =
      add_on_set_parameters_callback([this](const std::vector<rclcpp::Parameter>& parameters) {
        return onSetParameters(parameters);
      });
}

rcl_interfaces::msg::SetParametersResult StableTransformServer::onSetParameters(
    const std::vector<rclcpp::Parameter>& parameters) {
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  Settings updated;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    updated = settings_;
  }
  for (const rclcpp::Parameter& parameter : parameters) {
    const std::string& name = parameter.get_name();
    double* target = name == kSampleRate          ? &updated.sample_rate_hz
                     : name == kTranslationSpread ? &updated.max_translation_spread
                     : name == kRotationSpread    ? &updated.max_rotation_spread
                     : name == kStableDuration    ? &updated.min_stable_duration
                                                  : nullptr;
    if (!target) {
      continue;
    }
    result.reason = parameterError(name, parameter.get_parameter_value());
    if (!result.reason.empty()) {
      result.successful = false;
      return result;
    }
    *target = numberOf(parameter.get_parameter_value());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const bool rate_changed = updated.sample_rate_hz != settings_.sample_rate_hz;
  settings_ = updated;
  if (rate_changed) {
    startSampleTimer();
  }
  return result;
}

// Callers hold mutex_, or are the constructor.
void StableTransformServer::startSampleTimer() {
  const auto period = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(1.0 / settings_.sample_rate_hz));
  if (sample_timer_) {
    sample_timer_->cancel();
  }
  sample_timer_ = create_wall_timer(period, [this] { onSampleTick(); });
  // An idle server does not wake up.
  if (pending_.empty()) {
    sample_timer_->cancel();
  }
}

void StableTransformServer::onRequest(const std::shared_ptr<rmw_request_id_t>& header,
                                      const std::shared_ptr<GetStableTransform::Request>& request) {
  try {
    const std::string error = requestError(*request);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error.empty()) {
      RCLCPP_WARN(get_logger(), "refused a request: %s", error.c_str());
      respond(*header, rejectedAnswer(*request, error));
      return;
    }
    const DefaultLimits defaults{settings_.max_translation_spread, settings_.max_rotation_spread,
                                 settings_.min_stable_duration};
    const SteadyTime now = std::chrono::steady_clock::now();
    auto pending = std::make_unique<PendingRequest>(header, *request, defaults, now);
    // The first sample now, so that a request without a timeout is answered at once.
    const Lookup lookup = lookUpLatest(*buffer_, request->target_frame, request->source_frame);
    if (auto answer = pending->advance(lookup, now)) {
      respond(*header, *answer);
      return;
    }
    pending_.push_back(std::move(pending));
    if (sample_timer_->is_canceled()) {
      sample_timer_->reset();
    }
  } catch (const std::exception& e) {
    // Nothing here should throw (short of memory running out); if something does, the client
    // still hears why, and the node goes on.
    RCLCPP_ERROR(get_logger(), "failed to serve a request: %s", e.what());
    respond(*header, noTransformAnswer(*request, std::string("server error: ") + e.what()));
  }
}

void StableTransformServer::onSampleTick() {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    const SteadyTime now = std::chrono::steady_clock::now();
    // Requests for the same frames share one lookup a tick; each keeps its own window.
    std::map<std::pair<std::string, std::string>, Lookup> lookups;
    for (auto it = pending_.begin(); it != pending_.end();) {
      PendingRequest& pending = **it;
      auto frames = std::make_pair(pending.request.target_frame, pending.request.source_frame);
      auto found = lookups.find(frames);
      if (found == lookups.end()) {
        found = lookups.emplace(frames, lookUpLatest(*buffer_, frames.first, frames.second)).first;
      }
      if (auto answer = pending.advance(found->second, now)) {
        respond(*pending.header, *answer);
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    if (pending_.empty()) {
      sample_timer_->cancel();
    }
  } catch (const std::exception& e) {
    RCLCPP_ERROR(get_logger(), "sampling failed: %s", e.what());
  }
}

void StableTransformServer::answerAllPending(const char* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SteadyTime now = std::chrono::steady_clock::now();
  for (const auto& pending : pending_) {
    respond(*pending->header, pending->unsettled(now, StableTransformStatus::STATUS_SETTLING,
                                                 reason + std::string(": ")));
  }
  pending_.clear();
  if (sample_timer_) {
    sample_timer_->cancel();
  }
}

// A client that went away, or a context already shut down, makes the middleware refuse the
// answer: that costs the server nothing but a debug line. Never throws.
void StableTransformServer::respond(rmw_request_id_t header,
                                    GetStableTransform::Response response) {
  try {
    service_->send_response(header, response);
  } catch (const std::exception& e) {
    RCLCPP_DEBUG(get_logger(), "answer not sent: %s", e.what());
  }
  try {
    status_publisher_->publish(response.status);
  } catch (const std::exception& e) {
    RCLCPP_DEBUG(get_logger(), "status not published: %s", e.what());
  }
}

}  // namespace vantorel_base_utils_nodes

RCLCPP_COMPONENTS_REGISTER_NODE(vantorel_base_utils_nodes::StableTransformServer)
