// SPDX-License-Identifier: Apache-2.0
// The server in this process, its transforms from tf_motion_publisher in another, over the
// middleware the environment selects.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "child_process.hpp"
#include "tf_motion.hpp"
#include "vantorel_base_utils_nodes/stable_transform_server.hpp"

namespace {

using namespace std::chrono_literals;
using vantorel_base_utils_nodes::StableTransformServer;
using GetStableTransform = StableTransformServer::GetStableTransform;
using StableTransformStatus = StableTransformServer::StableTransformStatus;
using Request = GetStableTransform::Request;
using Response = GetStableTransform::Response;
using Clock = std::chrono::system_clock;

double secondsOf(const builtin_interfaces::msg::Duration& d) {
  return d.sec + d.nanosec * 1e-9;
}

double secondsOf(const builtin_interfaces::msg::Time& t) {
  return t.sec + t.nanosec * 1e-9;
}

double wallSeconds() {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

Request request(const char* source, double timeout_s, double min_stable_s = 0.0) {
  Request r;
  r.target_frame = tf_motion::kParent;
  r.source_frame = source;
  r.timeout.sec = static_cast<int32_t>(timeout_s);
  r.timeout.nanosec = static_cast<uint32_t>(std::lround((timeout_s - r.timeout.sec) * 1e9));
  r.min_stable_duration.sec = static_cast<int32_t>(min_stable_s);
  r.min_stable_duration.nanosec =
      static_cast<uint32_t>(std::lround((min_stable_s - r.min_stable_duration.sec) * 1e9));
  return r;
}

class StableTransformServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rclcpp::init(0, nullptr);
    epoch_ = wallSeconds() + 0.5;
    publisher_ = std::make_unique<vantorel_test::ChildProcess>(std::vector<std::string>{
        TF_MOTION_PUBLISHER, std::to_string(static_cast<long long>(epoch_ * 1e9))});
  }

  static void TearDownTestSuite() {
    publisher_.reset();
    rclcpp::shutdown();
  }

  void SetUp() override {
    ASSERT_TRUE(publisher_->running());
    startServer();
    client_node_ = std::make_shared<rclcpp::Node>("stable_transform_client");
    client_ = makeClient(client_node_);
    ASSERT_TRUE(client_->wait_for_service(10s));
  }

  void TearDown() override { stopServer(); }

  void startServer() {
    server_ = std::make_shared<StableTransformServer>();
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>();
    executor_->add_node(server_);
    spinner_ = std::thread([this] { executor_->spin(); });
  }

  void stopServer() {
    if (executor_) {
      executor_->cancel();
      spinner_.join();
      executor_.reset();
    }
    server_.reset();
  }

  static rclcpp::Client<GetStableTransform>::SharedPtr makeClient(
      const rclcpp::Node::SharedPtr& node) {
    return node->create_client<GetStableTransform>("get_stable_transform",
                                                   rclcpp::ServicesQoS().keep_all());
  }

  using Future = rclcpp::Client<GetStableTransform>::SharedFuture;

  Future send(const Request& r) {
    return client_->async_send_request(std::make_shared<Request>(r)).future.share();
  }

  // Spins the client until every future has its answer or `wait` runs out.
  bool await(const std::vector<Future>& futures, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (const Future& future : futures) {
      while (future.wait_for(0s) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > deadline) {
          return false;
        }
        rclcpp::spin_some(client_node_);
        std::this_thread::sleep_for(2ms);
      }
    }
    return true;
  }

  Response call(const Request& r, std::chrono::milliseconds wait = 5s) {
    Future future = send(r);
    EXPECT_TRUE(await({future}, wait)) << "no answer for " << r.source_frame;
    return future.valid() && future.wait_for(0s) == std::future_status::ready ? *future.get()
                                                                              : Response();
  }

  // Sleeps until `phase` seconds into the next period of `period` seconds from the epoch.
  static double sleepUntilPhase(double period, double phase) {
    const double now = wallSeconds();
    const double start = epoch_ + std::ceil((now - epoch_ - phase) / period) * period;
    std::this_thread::sleep_for(std::chrono::duration<double>(start + phase - now));
    return start;
  }

  // Waits until the server has the transform (its tf listener has caught up).
  void awaitTransform(const char* source) {
    for (int i = 0; i < 100; ++i) {
      if (call(request(source, 0.0)).status.status != StableTransformStatus::STATUS_NO_TRANSFORM) {
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "the server never got " << source;
  }

  static double epoch_;
  static std::unique_ptr<vantorel_test::ChildProcess> publisher_;
  std::shared_ptr<StableTransformServer> server_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread spinner_;
  rclcpp::Node::SharedPtr client_node_;
  rclcpp::Client<GetStableTransform>::SharedPtr client_;
};

double StableTransformServerTest::epoch_ = 0.0;
std::unique_ptr<vantorel_test::ChildProcess> StableTransformServerTest::publisher_;

TEST_F(StableTransformServerTest, AnswersStableOnlyOnceTheSettledSwingHeldStillLongEnough) {
  awaitTransform(tf_motion::kSettling);
  const double cycle_start = sleepUntilPhase(tf_motion::kCycle, 0.0);  // a swing begins
  const double min_stable = 0.5;
  Request asked = request(tf_motion::kSettling, 3.0, min_stable);
  asked.max_translation_spread = 0.002;
  asked.max_rotation_spread = 0.004;
  Future stable = send(asked);
  // Meanwhile, the state as it is, every 100 ms.
  struct Poll {
    double at;
    Response answer;
  };
  std::vector<Poll> polls;
  while (!await({stable}, 100ms)) {
    const double at = wallSeconds() - cycle_start;
    polls.push_back({at, call(request(tf_motion::kSettling, 0.0))});
  }
  const double answered_at = wallSeconds() - cycle_start;
  const Response answer = *stable.get();
  const StableTransformStatus& status = answer.status;
  const double run_start =
      secondsOf(status.transform.header.stamp) - secondsOf(status.stable_duration) - cycle_start;

  for (const Poll& poll : polls) {
    std::printf("  %.2f s: %s\n", poll.at, poll.answer.status.message.c_str());
    EXPECT_EQ(poll.answer.status.status, StableTransformStatus::STATUS_SETTLING);
    EXPECT_FALSE(poll.answer.success);
  }
  const auto& t = status.transform.transform.translation;
  const auto& q = status.transform.transform.rotation;
  const double angle = 2.0 * std::atan2(q.z, q.w);
  std::printf(
      "settle timeline (s from the swing's start): still run began at %.3f; STABLE answered at "
      "%.3f over %u samples (translation spread %.2f mm, rotation spread %.2f mrad); the swing "
      "fell below the noise at %.3f\n  mean off the rest pose by %.3f mm and %.3f mrad\n",
      run_start, answered_at, status.sample_count, status.translation_spread * 1e3,
      status.rotation_spread * 1e3, tf_motion::settledAfter(),
      std::hypot(t.x - tf_motion::kRestX, t.y - tf_motion::kRestY, t.z - tf_motion::kRestZ) * 1e3,
      std::abs(angle - tf_motion::kRestAngle) * 1e3);

  ASSERT_TRUE(answer.success) << status.message;
  EXPECT_EQ(status.status, StableTransformStatus::STATUS_STABLE);
  EXPECT_TRUE(status.stable);
  EXPECT_GE(secondsOf(status.stable_duration), min_stable);
  EXPECT_GE(status.sample_count, 10u);
  EXPECT_LE(status.translation_spread, 0.002);
  EXPECT_LE(status.rotation_spread, 0.004);
  // Before 0.6 s the swing is over 4 mm and 7 mrad: no window reaching back there is still.
  EXPECT_GT(run_start, 0.6);
  EXPECT_GE(answered_at, run_start + min_stable);
  EXPECT_LT(answered_at, tf_motion::settledAfter() + min_stable + 0.5);
  // The window's mean: within the noise and what is left of the swing.
  EXPECT_NEAR(t.x, tf_motion::kRestX, tf_motion::kNoise);
  EXPECT_NEAR(t.y, tf_motion::kRestY, tf_motion::kNoise);
  EXPECT_NEAR(t.z, tf_motion::kRestZ, tf_motion::kNoise);
  EXPECT_NEAR(angle, tf_motion::kRestAngle, 2 * tf_motion::kNoise);
  EXPECT_EQ(status.transform.header.frame_id, tf_motion::kParent);
  EXPECT_EQ(status.transform.child_frame_id, tf_motion::kSettling);
}

TEST_F(StableTransformServerTest, EndsInNoTransformOrTimeoutWhenNothingSettles) {
  awaitTransform(tf_motion::kWobbling);
  awaitTransform(tf_motion::kStale);
  sleepUntilPhase(tf_motion::kStalePeriod, tf_motion::kStaleOn + 0.05);
  const Future unknown = send(request("no_such_frame", 0.3));
  const Future wobbling = send(request(tf_motion::kWobbling, 0.5));
  // Its last transform has held still ever since; it is not stable, only no longer published.
  const Future stale = send(request(tf_motion::kStale, 0.5, 0.2));
  ASSERT_TRUE(await({unknown, wobbling, stale}, 3s));

  const StableTransformStatus& none = unknown.get()->status;
  EXPECT_FALSE(unknown.get()->success);
  EXPECT_EQ(none.status, StableTransformStatus::STATUS_NO_TRANSFORM) << none.message;
  EXPECT_NE(none.message.find("no_such_frame"), std::string::npos) << none.message;

  const StableTransformStatus& moving = wobbling.get()->status;
  EXPECT_FALSE(wobbling.get()->success);
  EXPECT_EQ(moving.status, StableTransformStatus::STATUS_TIMEOUT) << moving.message;
  EXPECT_EQ(secondsOf(moving.stable_duration), 0.0);

  const StableTransformStatus& silent = stale.get()->status;
  EXPECT_FALSE(stale.get()->success);
  EXPECT_EQ(silent.status, StableTransformStatus::STATUS_TIMEOUT) << silent.message;
  EXPECT_EQ(silent.sample_count, 1u);
  EXPECT_NE(silent.message.find("no new sample for"), std::string::npos) << silent.message;
}

TEST_F(StableTransformServerTest, AStaticTransformIsStableAtOnce) {
  // No duration asked for: the server's default_min_stable_duration (1 s) is reported.
  EXPECT_EQ(secondsOf(call(request(tf_motion::kStatic, 5.0)).status.stable_duration), 1.0);
  const Response answer = call(request(tf_motion::kStatic, 5.0, 3.0));
  const StableTransformStatus& status = answer.status;
  ASSERT_TRUE(answer.success) << status.message;
  EXPECT_EQ(status.status, StableTransformStatus::STATUS_STABLE);
  EXPECT_EQ(status.sample_count, 1u);
  EXPECT_EQ(secondsOf(status.stable_duration), 3.0);
  EXPECT_EQ(status.transform.transform.translation.x, tf_motion::kStaticX);
  EXPECT_EQ(status.transform.transform.translation.y, tf_motion::kStaticY);
  EXPECT_EQ(status.transform.transform.translation.z, tf_motion::kStaticZ);
  EXPECT_NEAR(2.0 * std::atan2(status.transform.transform.rotation.z,
                               status.transform.transform.rotation.w),
              tf_motion::kStaticAngle, 1e-12);
}

TEST_F(StableTransformServerTest, AnswersABurstOfRequestsInFullWhileAClientGoesAway) {
  awaitTransform(tf_motion::kWobbling);
  {
    auto leaving = std::make_shared<rclcpp::Node>("leaving_client");
    auto client = makeClient(leaving);
    ASSERT_TRUE(client->wait_for_service(5s));
    for (int i = 0; i < 5; ++i) {
      client->async_send_request(std::make_shared<Request>(request(tf_motion::kWobbling, 0.3)));
    }
  }
  // Fifty waiting requests that time out in the same tick, their answers going out together,
  // and every fifth for the static transform, answered at once.
  std::vector<Future> futures;
  for (int i = 0; i < 50; ++i) {
    futures.push_back(send(
        request(i % 5 == 0 ? tf_motion::kStatic : tf_motion::kWobbling, i % 5 == 0 ? 1.0 : 0.4)));
  }
  ASSERT_TRUE(await(futures, 5s));
  for (int i = 0; i < 50; ++i) {
    const StableTransformStatus& status = futures[i].get()->status;
    EXPECT_EQ(status.source_frame, i % 5 == 0 ? tf_motion::kStatic : tf_motion::kWobbling);
    EXPECT_EQ(status.status, i % 5 == 0 ? StableTransformStatus::STATUS_STABLE
                                        : StableTransformStatus::STATUS_TIMEOUT)
        << i << ": " << status.message;
  }
  EXPECT_EQ(server_->pendingRequestCount(), 0u);
}

TEST_F(StableTransformServerTest, RefusesBadRequestsAtOnceSayingWhatIsWrong) {
  struct Case {
    std::function<void(Request&)> spoil;
    const char* named;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {[](Request& r) { r.target_frame.clear(); }, "target_frame is empty"},
      {[](Request& r) { r.source_frame.clear(); }, "source_frame is empty"},
      {[](Request& r) { r.source_frame = r.target_frame; }, "both 'map'"},
      {[](Request& r) { r.source_frame = "/settling_tool"; }, "starts with '/'"},
      {[](Request& r) { r.timeout.sec = -1; }, "timeout is negative"},
      {[](Request& r) { r.timeout.nanosec = 1000000000u; }, "timeout.nanosec"},
      {[nan](Request& r) { r.max_translation_spread = nan; }, "max_translation_spread"},
      {[](Request& r) { r.max_rotation_spread = -INFINITY; }, "max_rotation_spread"},
      {[](Request& r) { r.min_stable_duration.nanosec = 4000000000u; }, "min_stable_duration"}};
  std::vector<Future> futures;
  for (const Case& c : cases) {
    Request r = request(tf_motion::kSettling, 30.0);
    c.spoil(r);
    futures.push_back(send(r));
  }
  ASSERT_TRUE(await(futures, 2s));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Response& answer = *futures[i].get();
    EXPECT_FALSE(answer.success);
    EXPECT_EQ(answer.status.status, StableTransformStatus::STATUS_NO_TRANSFORM);
    EXPECT_NE(answer.status.message.find(cases[i].named), std::string::npos)
        << "wanted '" << cases[i].named << "' in: " << answer.status.message;
  }
  EXPECT_EQ(server_->pendingRequestCount(), 0u);
}

TEST_F(StableTransformServerTest, ShuttingDownAnswersTheRequestsStillWaiting) {
  awaitTransform(tf_motion::kWobbling);
  std::vector<Future> futures;
  for (int i = 0; i < 3; ++i) {
    futures.push_back(send(request(tf_motion::kWobbling, 30.0)));
  }
  for (int i = 0; i < 100 && server_->pendingRequestCount() < 3; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(server_->pendingRequestCount(), 3u);
  stopServer();
  ASSERT_TRUE(await(futures, 2s));
  for (const Future& future : futures) {
    EXPECT_FALSE(future.get()->success);
    EXPECT_EQ(future.get()->status.status, StableTransformStatus::STATUS_SETTLING);
    EXPECT_NE(future.get()->status.message.find("shutting down"), std::string::npos);
  }
}

TEST_F(StableTransformServerTest, RefusesParametersOutOfRangeNamingThem) {
  rclcpp::NodeOptions zero_rate;
  zero_rate.parameter_overrides({{"sample_rate_hz", 0.0}});
  zero_rate.arguments({"--ros-args", "-r", "__node:=refused_server"});
  try {
    StableTransformServer server(zero_rate);
    ADD_FAILURE() << "a sample rate of 0 was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("sample_rate_hz"), std::string::npos) << e.what();
  }
  const auto refused = server_->set_parameter({"default_max_rotation_spread", -0.1});
  EXPECT_FALSE(refused.successful);
  EXPECT_NE(refused.reason.find("default_max_rotation_spread"), std::string::npos);
  // An integer is a rate too; the new rate applies to the next request.
  EXPECT_TRUE(server_->set_parameter({"sample_rate_hz", 50}).successful);
  EXPECT_EQ(call(request(tf_motion::kStatic, 2.0)).status.status,
            StableTransformStatus::STATUS_STABLE);
}

}  // namespace
