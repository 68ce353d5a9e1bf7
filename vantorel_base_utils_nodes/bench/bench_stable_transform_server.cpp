// SPDX-License-Identifier: Apache-2.0
// What the stable-transform server costs: the server program and the tf publisher of the
// tests each in a process of their own, this program the client. Each run sends N concurrent
// requests (default 100) for the frame that swings and settles, as the swing begins, and
// measures
//   - the server's CPU share of one core from the requests to the last answer (from
//     /proc/<pid>/stat), and while idle with the tf tree streaming at 100 Hz;
//   - each answer's latency after the settle: its arrival minus the moment its window first
//     held still for the minimum duration (the newest sample's stamp - stable_duration + the
//     minimum duration), in the wall clock both processes share.
// Every answer must be STABLE with a mean within 1 mm of the rest pose, or the run fails.
//
//   bench_stable_transform_server [--runs 5] [--requests 100] [--rate 30]
// Give it a ROS_DOMAIN_ID of its own.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>

#include "bench_measures.hpp"
#include "child_process.hpp"
#include "tf_motion.hpp"

namespace {

using namespace std::chrono_literals;
using vantorel_base_utils::srv::GetStableTransform;
using Status = vantorel_base_utils::msg::StableTransformStatus;
using Future = rclcpp::Client<GetStableTransform>::SharedFuture;
using vantorel_bench::cpuSeconds;
using vantorel_bench::percentile;
using vantorel_bench::wallSeconds;

constexpr double kMinStable = 1.0;  // the server's default, which the requests select

struct Options {
  int runs = 5;
  int requests = 100;
  double rate = 30.0;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--runs") {
      options.runs = std::atoi(argv[i + 1]);
    } else if (name == "--requests") {
      options.requests = std::atoi(argv[i + 1]);
    } else if (name == "--rate") {
      options.rate = std::atof(argv[i + 1]);
    }
  }
  return options;
}

class Bench {
 public:
  Bench(const Options& options, double epoch)
      : options_(options), epoch_(epoch), node_(std::make_shared<rclcpp::Node>("bench_client")) {
    client_ = node_->create_client<GetStableTransform>("get_stable_transform",
                                                       rclcpp::ServicesQoS().keep_all());
    executor_.add_node(node_);
  }

  bool ready() {
    if (!client_->wait_for_service(20s)) {
      return false;
    }
    for (int i = 0; i < 200; ++i) {
      auto answers = ask(1, 0.0);
      if (!answers.empty() && answers[0]->status.status != Status::STATUS_NO_TRANSFORM) {
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // One run: returns false when an answer is missing or wrong.
  bool run(pid_t server, std::vector<double>& latencies, double& cpu_share) {
    const double now = wallSeconds();
    const double cycle = tf_motion::kCycle;
    const double start = epoch_ + std::ceil((now - epoch_) / cycle) * cycle;
    std::this_thread::sleep_for(std::chrono::duration<double>(start - now));
    const double cpu_before = cpuSeconds(server);
    const double wall_before = wallSeconds();
    std::vector<double> arrivals;
    const auto answers = ask(options_.requests, 3.0, &arrivals);
    cpu_share = (cpuSeconds(server) - cpu_before) / (wallSeconds() - wall_before);
    if (answers.size() != static_cast<std::size_t>(options_.requests)) {
      std::fprintf(stderr, "only %zu of %d answers arrived\n", answers.size(), options_.requests);
      return false;
    }
    for (std::size_t i = 0; i < answers.size(); ++i) {
      const Status& s = answers[i]->status;
      const auto& t = s.transform.transform.translation;
      const double off =
          std::hypot(t.x - tf_motion::kRestX, t.y - tf_motion::kRestY, t.z - tf_motion::kRestZ);
      if (!answers[i]->success || off > 0.001) {
        std::fprintf(stderr, "wrong answer: %s (mean %.4f m off)\n", s.message.c_str(), off);
        return false;
      }
      const double stamp = s.transform.header.stamp.sec + s.transform.header.stamp.nanosec * 1e-9;
      const double held = s.stable_duration.sec + s.stable_duration.nanosec * 1e-9;
      latencies.push_back(arrivals[i] - (stamp - held + kMinStable));
    }
    return true;
  }

  double idleShare(pid_t server) {
    const double cpu_before = cpuSeconds(server);
    const double wall_before = wallSeconds();
    std::this_thread::sleep_for(2s);
    return (cpuSeconds(server) - cpu_before) / (wallSeconds() - wall_before);
  }

 private:
  std::vector<GetStableTransform::Response::SharedPtr> ask(
      int count, double timeout, std::vector<double>* arrivals = nullptr) {
    auto request = std::make_shared<GetStableTransform::Request>();
    request->target_frame = tf_motion::kParent;
    request->source_frame = tf_motion::kSettling;
    request->timeout.sec = static_cast<int32_t>(timeout);
    std::vector<Future> futures;
    for (int i = 0; i < count; ++i) {
      futures.push_back(client_->async_send_request(request).future.share());
    }
    std::vector<GetStableTransform::Response::SharedPtr> answers(futures.size());
    std::vector<double> arrived(futures.size(), 0.0);
    std::size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (done < futures.size() && std::chrono::steady_clock::now() < deadline) {
      // One answer a call, as soon as it is there: an answer's arrival is stamped when the
      // client takes it, not after a sleep.
      executor_.spin_once(1ms);
      for (std::size_t i = 0; i < futures.size(); ++i) {
        if (!answers[i] && futures[i].wait_for(0s) == std::future_status::ready) {
          answers[i] = futures[i].get();
          arrived[i] = wallSeconds();
          ++done;
        }
      }
    }
    if (done < futures.size()) {
      return {};
    }
    if (arrivals) {
      *arrivals = arrived;
    }
    return answers;
  }

  Options options_;
  double epoch_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<GetStableTransform>::SharedPtr client_;
  rclcpp::executors::SingleThreadedExecutor executor_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  rclcpp::init(argc, argv);
  const double epoch = wallSeconds() + 1.0;
  char rate[64];
  std::snprintf(rate, sizeof(rate), "sample_rate_hz:=%f", options.rate);
  vantorel_test::ChildProcess server(
      {STABLE_TRANSFORM_SERVER, "--ros-args", "-p", rate, "--log-level", "warn"});
  vantorel_test::ChildProcess publisher(
      {TF_MOTION_PUBLISHER, std::to_string(static_cast<long long>(epoch * 1e9))});
  int status = 0;
  {
    Bench bench(options, epoch);
    if (!bench.ready()) {
      std::fprintf(stderr, "the server or the transform never came up\n");
      status = 1;
    } else {
      std::printf("server idle with the tf tree streaming: %.1f%% of one core\n",
                  100.0 * bench.idleShare(server.pid()));
      std::vector<double> medians, shares, all;
      for (int r = 0; r < options.runs && status == 0; ++r) {
        std::vector<double> latencies;
        double share = 0.0;
        if (!bench.run(server.pid(), latencies, share)) {
          status = 1;
          break;
        }
        medians.push_back(percentile(latencies, 0.5));
        shares.push_back(share);
        all.insert(all.end(), latencies.begin(), latencies.end());
        std::printf(
            "run %d: %d requests at %.0f Hz: server CPU %.1f%% of one core; latency after "
            "the settle min %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms\n",
            r + 1, options.requests, options.rate, 100.0 * share, 1e3 * percentile(latencies, 0.0),
            1e3 * medians.back(), 1e3 * percentile(latencies, 0.9),
            1e3 * percentile(latencies, 1.0));
      }
      if (status == 0) {
        std::printf(
            "over %d runs: CPU %.1f%% (runs %.1f-%.1f%%); latency median %.1f ms (run "
            "medians %.1f-%.1f ms), p90 %.1f ms\n",
            options.runs, 100.0 * percentile(shares, 0.5), 100.0 * percentile(shares, 0.0),
            100.0 * percentile(shares, 1.0), 1e3 * percentile(all, 0.5),
            1e3 * percentile(medians, 0.0), 1e3 * percentile(medians, 1.0),
            1e3 * percentile(all, 0.9));
      }
    }
  }
  rclcpp::shutdown();
  return status;
}
