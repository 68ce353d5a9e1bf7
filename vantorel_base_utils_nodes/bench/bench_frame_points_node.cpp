// SPDX-License-Identifier: Apache-2.0
// What the frame points node costs on a 1280x720 16UC1 frame with five instance masks:
//   - per frame, the node against the library road it wraps (projectDetections on the same
//     frame), side by side in each run: the node's time is the latency from publishing the
//     three messages to receiving the cloud, with the node and the publisher in one executor
//     with intra-process communication, as in a component container;
//   - the same latency across two processes (the frame_points_node program and this one);
//   - the sustained rate with the node's program on one core (taskset), each frame published
//     as the previous cloud arrives, with the program's CPU share; then fed open loop at 30
//     and 60 Hz: frames back, CPU share and CPU time a frame.
//
//   bench_frame_points_node [--runs 3] [--frames 30] [--seconds 5]
// Give it a ROS_DOMAIN_ID of its own. Across processes a 1.8 MB depth image goes best effort
// (the sensor-data QoS of the node's inputs): with Cyclone DDS's default socket receive
// buffer its fragments overflow the socket and whole frames are lost; give CYCLONEDDS_URI a
// larger SocketReceiveBufferSize (docs/frame_points_node.md). Frames lost are counted.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <tf2_ros/static_transform_broadcaster.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/detection_points.hpp>
#include <vantorel_base_utils/transforms.hpp>

#include "bench_measures.hpp"
#include "child_process.hpp"
#include "vantorel_base_utils_nodes/frame_points_node.hpp"

namespace {

using namespace std::chrono_literals;
namespace vbu = vantorel_base_utils;
using sensor_msgs::msg::CameraInfo;
using sensor_msgs::msg::Image;
using sensor_msgs::msg::PointCloud2;
using vantorel_base_utils::msg::DetectionResult;
using vantorel_bench::cpuSeconds;
using vantorel_bench::percentile;
using vantorel_bench::wallSeconds;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr double kFocal = 900.0;
constexpr char kCameraFrame[] = "bench_camera";

std::string base64(const std::vector<unsigned char>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t block = std::uint32_t{bytes[i]} << 16;
    block |= left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0U;
    block |= left > 2 ? std::uint32_t{bytes[i + 2]} : 0U;
    text += kAlphabet[(block >> 18) & 63U];
    text += kAlphabet[(block >> 12) & 63U];
    text += left > 1 ? kAlphabet[(block >> 6) & 63U] : '=';
    text += left > 2 ? kAlphabet[block & 63U] : '=';
  }
  return text;
}

struct Frame {
  Image image;
  CameraInfo info;
  std::string detections;
  Eigen::Isometry3d camera_to_arm_base = Eigen::Isometry3d::Identity();
  Eigen::Isometry3d arm_base_to_map = Eigen::Isometry3d::Identity();
};

// A slanted surface 1.2 to 1.8 m away, and five elliptic instances of three classes filling
// their boxes, 370 000 mask pixels in all.
Frame makeFrame() {
  Frame frame;
  cv::Mat depth(kHeight, kWidth, CV_16UC1);
  for (int v = 0; v < kHeight; ++v) {
    for (int u = 0; u < kWidth; ++u) {
      depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(1200 + (u * 7 + v * 3) % 600);
    }
  }
  frame.image.header.frame_id = kCameraFrame;
  frame.image.width = kWidth;
  frame.image.height = kHeight;
  frame.image.encoding = "16UC1";
  frame.image.step = kWidth * 2;
  frame.image.data.assign(depth.datastart, depth.dataend);
  frame.info.header.frame_id = kCameraFrame;
  frame.info.width = kWidth;
  frame.info.height = kHeight;
  frame.info.k = {kFocal, 0, kWidth / 2.0, 0, kFocal, kHeight / 2.0, 0, 0, 1};
  frame.info.p = {kFocal, 0, kWidth / 2.0, 0, 0, kFocal, kHeight / 2.0, 0, 0, 0, 1, 0};
  frame.info.r = {1, 0, 0, 0, 1, 0, 0, 0, 1};

  const std::vector<std::array<int, 4>> boxes = {{100, 100, 400, 400},
                                                 {500, 150, 700, 450},
                                                 {800, 100, 1200, 500},
                                                 {200, 450, 600, 700},
                                                 {700, 500, 1000, 700}};
  nlohmann::json result = {{"bbox_xyxy_list", nlohmann::json::array()},
                           {"cls_list", nlohmann::json::array()},
                           {"conf_list", nlohmann::json::array()},
                           {"masks_base64", nlohmann::json::object()},
                           {"instance_masks", nlohmann::json::array()}};
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const auto& [x1, y1, x2, y2] = boxes[i];
    cv::Mat mask = cv::Mat::zeros(y2 - y1, x2 - x1, CV_8UC1);
    cv::ellipse(mask, {(x2 - x1) / 2, (y2 - y1) / 2}, {(x2 - x1) / 2, (y2 - y1) / 2}, 0, 0, 360,
                255, cv::FILLED);
    std::vector<unsigned char> png;
    cv::imencode(".png", mask, png);
    result["bbox_xyxy_list"].push_back({x1, y1, x2, y2});
    result["cls_list"].push_back(static_cast<int>(i % 3));
    result["conf_list"].push_back(0.9 - 0.1 * static_cast<double>(i));
    result["instance_masks"].push_back({{"input_index", i},
                                        {"width", x2 - x1},
                                        {"height", y2 - y1},
                                        {"mask_base64", base64(png)}});
  }
  frame.detections = result.dump();
  frame.camera_to_arm_base.translate(Eigen::Vector3d(0.3, 0.0, 1.2));
  frame.camera_to_arm_base.rotate(Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitX()));
  frame.arm_base_to_map.translate(Eigen::Vector3d(1.0, 0.5, 0.0));
  return frame;
}

// The node's road options at its defaults.
vbu::DetectionPointsOptions nodeOptions() {
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = 0.5F;
  options.depth.max_depth = 10000;
  options.instance_points = false;
  return options;
}

double libraryFrameSeconds(const Frame& frame) {
  const cv::Mat depth(kHeight, kWidth, CV_16UC1, const_cast<std::uint8_t*>(frame.image.data.data()),
                      frame.image.step);
  const auto camera = vbu::cameraModelFromCameraInfo(frame.info);
  const auto start = std::chrono::steady_clock::now();
  const auto result =
      vbu::projectDetections(frame.detections, depth, camera, frame.camera_to_arm_base,
                             frame.arm_base_to_map, nodeOptions(), rclcpp::get_logger("bench"));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result.labelled_cloud.width == 0) {
    std::fprintf(stderr, "the library gave no points\n");
    std::exit(1);
  }
  return seconds;
}

// Publishes frames of `frame` and times each until its cloud arrives.
class Feeder {
 public:
  Feeder(const Frame& frame, const rclcpp::NodeOptions& options) : frame_(frame) {
    node_ = std::make_shared<rclcpp::Node>("bench_feeder", options);
    const auto qos = rclcpp::QoS(5).reliable();
    image_pub_ = node_->create_publisher<Image>("depth/image", qos);
    info_pub_ = node_->create_publisher<CameraInfo>("depth/camera_info", qos);
    detections_pub_ = node_->create_publisher<DetectionResult>("detections", qos);
    cloud_sub_ = node_->create_subscription<PointCloud2>(
        "points", qos, [this](PointCloud2::ConstSharedPtr) { ++received_; });
    // Transient-local /tf_static cannot go through intra-process communication.
    rclcpp::PublisherOptions tf_options;
    tf_options.use_intra_process_comm = rclcpp::IntraProcessSetting::Disable;
    broadcaster_ = std::make_shared<tf2_ros::StaticTransformBroadcaster>(
        node_, tf2_ros::StaticBroadcasterQoS(), tf_options);
    broadcaster_->sendTransform({mount("arm_base_link", kCameraFrame, frame.camera_to_arm_base),
                                 mount("map", "arm_base_link", frame.arm_base_to_map)});
  }

  rclcpp::Node::SharedPtr node() const { return node_; }
  std::size_t received() const { return received_; }

  void publish() { send(stampedMessages()); }

  // The seconds from publishing one frame to its cloud, spinning `executor`; -1 when none came.
  template <typename Executor>
  double timeOneFrame(Executor& executor, std::chrono::milliseconds limit = 2000ms) {
    const std::size_t before = received_;
    // The copies of the messages are made before the clock starts: a detector's node would
    // have them already.
    Messages messages = stampedMessages();
    const auto start = std::chrono::steady_clock::now();
    send(std::move(messages));
    while (received_ == before) {
      executor.spin_once(10ms);
      if (std::chrono::steady_clock::now() - start > limit) {
        return -1.0;
      }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

 private:
  struct Messages {
    std::unique_ptr<Image> image;
    std::unique_ptr<CameraInfo> info;
    std::unique_ptr<DetectionResult> detections;
  };

  // Copies of the frame's messages, stamped now.
  Messages stampedMessages() const {
    const rclcpp::Time now = node_->now();
    Messages messages{std::make_unique<Image>(frame_.image),
                      std::make_unique<CameraInfo>(frame_.info),
                      std::make_unique<DetectionResult>()};
    messages.image->header.stamp = now;
    messages.info->header.stamp = now;
    messages.detections->header = messages.image->header;
    messages.detections->result_json = frame_.detections;
    return messages;
  }

  void send(Messages messages) {
    image_pub_->publish(std::move(messages.image));
    info_pub_->publish(std::move(messages.info));
    detections_pub_->publish(std::move(messages.detections));
  }

  static geometry_msgs::msg::TransformStamped mount(const std::string& parent,
                                                    const std::string& child,
                                                    const Eigen::Isometry3d& pose) {
    geometry_msgs::msg::TransformStamped transform;
    transform.header.frame_id = parent;
    transform.child_frame_id = child;
    transform.transform = vbu::toGeometryTransform(pose.matrix());
    return transform;
  }

  const Frame& frame_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Publisher<Image>::SharedPtr image_pub_;
  rclcpp::Publisher<CameraInfo>::SharedPtr info_pub_;
  rclcpp::Publisher<DetectionResult>::SharedPtr detections_pub_;
  rclcpp::Subscription<PointCloud2>::SharedPtr cloud_sub_;
  std::shared_ptr<tf2_ros::StaticTransformBroadcaster> broadcaster_;
  std::size_t received_ = 0;
};

// The latencies of `frames` frames; a frame whose cloud does not come within 2 s is counted
// in `lost` and timed no further.
template <typename Executor>
std::vector<double> timeFrames(Feeder& feeder, Executor& executor, int frames, int& lost) {
  // The first frames may come before the node has the static transforms.
  for (int i = 0; i < 50 && feeder.received() < 3; ++i) {
    feeder.timeOneFrame(executor, 200ms);
  }
  std::vector<double> seconds;
  lost = 0;
  for (int i = 0; i < frames; ++i) {
    const double t = feeder.timeOneFrame(executor);
    if (t < 0.0) {
      ++lost;
    } else {
      seconds.push_back(t);
    }
  }
  if (seconds.empty()) {
    std::fprintf(stderr, "no cloud came back for any of %d frames\n", frames);
    std::exit(1);
  }
  return seconds;
}

struct Options {
  int runs = 3;
  int frames = 30;
  double seconds = 5.0;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const double value = std::atof(argv[i + 1]);
    if (name == "--runs" && value >= 1) {
      options.runs = static_cast<int>(value);
    } else if (name == "--frames" && value >= 1) {
      options.frames = static_cast<int>(value);
    } else if (name == "--seconds" && value > 0) {
      options.seconds = value;
    } else {
      std::fprintf(stderr,
                   "usage: bench_frame_points_node [--runs 3] [--frames 30] "
                   "[--seconds 5]\n");
      std::exit(2);
    }
  }
  return options;
}

void printMs(const char* what, const std::vector<double>& seconds, int lost = 0) {
  std::printf("  %-34s median %7.2f ms  p10 %7.2f  p90 %7.2f", what, 1e3 * percentile(seconds, 0.5),
              1e3 * percentile(seconds, 0.1), 1e3 * percentile(seconds, 0.9));
  if (lost != 0) {
    std::printf("  (%d lost)", lost);
  }
  std::printf("\n");
}

// Library and node side by side, the node in this process with intra-process communication.
void compareInProcess(const Frame& frame, const Options& options) {
  std::vector<double> ratios;
  for (int run = 1; run <= options.runs; ++run) {
    rclcpp::NodeOptions node_options;
    node_options.use_intra_process_comms(true);
    auto node = std::make_shared<vantorel_base_utils_nodes::FramePointsNode>(node_options);
    Feeder feeder(frame, node_options);
    rclcpp::executors::SingleThreadedExecutor executor;
    executor.add_node(node);
    executor.add_node(feeder.node());
    int lost = 0;
    timeFrames(feeder, executor, 1, lost);  // until the node has its transforms
    // Frame by frame in turn, so that a change in the machine's load touches both alike.
    std::vector<double> library;
    std::vector<double> in_node;
    for (int i = 0; i < options.frames; ++i) {
      library.push_back(libraryFrameSeconds(frame));
      const double t = feeder.timeOneFrame(executor);
      if (t < 0.0) {
        ++lost;
      } else {
        in_node.push_back(t);
      }
    }
    if (in_node.empty()) {
      std::fprintf(stderr, "no cloud came back in one process\n");
      std::exit(1);
    }
    ratios.push_back(percentile(in_node, 0.5) / percentile(library, 0.5));
    std::printf("run %d of %d, %d frames each:\n", run, options.runs, options.frames);
    printMs("library projectDetections", library);
    printMs("node, publish to cloud, one process", in_node, lost);
    std::printf("  node / library (medians)           %.2f, node - library %+.2f ms\n",
                ratios.back(), 1e3 * (percentile(in_node, 0.5) - percentile(library, 0.5)));
  }
  std::printf("node / library over %d runs: %.2f to %.2f\n", options.runs,
              *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()));
}

std::vector<std::string> nodeProgram(bool one_core) {
  std::vector<std::string> argv;
  if (one_core) {
    argv = {"/usr/bin/taskset", "-c", "0"};
  }
  argv.push_back(FRAME_POINTS_NODE);
  return argv;
}

void acrossProcesses(const Frame& frame, const Options& options) {
  vantorel_test::ChildProcess program(nodeProgram(false));
  Feeder feeder(frame, rclcpp::NodeOptions());
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(feeder.node());
  for (int run = 1; run <= options.runs; ++run) {
    std::printf("run %d of %d:\n", run, options.runs);
    int lost = 0;
    const std::vector<double> latencies = timeFrames(feeder, executor, options.frames, lost);
    printMs("node program, publish to cloud", latencies, lost);
  }
}

// Frames a second with each frame published as the last cloud arrives, and the program's CPU
// share of one core over that time.
void sustained(const Frame& frame, const Options& options) {
  vantorel_test::ChildProcess program(nodeProgram(true));
  Feeder feeder(frame, rclcpp::NodeOptions());
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(feeder.node());
  int lost = 0;
  timeFrames(feeder, executor, 5, lost);
  for (int run = 1; run <= options.runs; ++run) {
    const double cpu_before = cpuSeconds(program.pid());
    const double wall_before = wallSeconds();
    int frames = 0;
    while (wallSeconds() - wall_before < options.seconds) {
      if (feeder.timeOneFrame(executor) >= 0.0) {
        ++frames;
      }
    }
    const double wall = wallSeconds() - wall_before;
    const double share = (cpuSeconds(program.pid()) - cpu_before) / wall;
    std::printf("run %d: %.1f frames/s back to back on one core, program CPU %.0f%%\n", run,
                frames / wall, 100.0 * share);
  }
  // The same program fed open loop at camera rates: what comes back, and CPU per frame.
  for (const double hz : {30.0, 60.0}) {
    const double cpu_before = cpuSeconds(program.pid());
    const double wall_before = wallSeconds();
    std::size_t published = 0;
    const std::size_t received_before = feeder.received();
    while (wallSeconds() - wall_before < options.seconds) {
      feeder.publish();
      ++published;
      const double next = wall_before + static_cast<double>(published) / hz;
      while (wallSeconds() < next) {
        executor.spin_once(1ms);
      }
    }
    const auto settle = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < settle) {
      executor.spin_once(10ms);
    }
    const double cpu = cpuSeconds(program.pid()) - cpu_before;
    const std::size_t received = feeder.received() - received_before;
    std::printf(
        "at %.0f Hz: %zu of %zu frames came back, program CPU %.0f%%, %.1f ms CPU a frame\n", hz,
        received, published, 100.0 * cpu / (wallSeconds() - wall_before),
        1e3 * cpu / static_cast<double>(published));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  rclcpp::init(argc, argv);
  const Frame frame = makeFrame();
  std::printf("frame: %dx%d 16UC1, five instance masks, %zu bytes of detector result\n", kWidth,
              kHeight, frame.detections.size());
  const char* cyclone = std::getenv("CYCLONEDDS_URI");
  std::printf("CYCLONEDDS_URI: %s\n", cyclone ? cyclone : "(unset)");
  std::printf("== node against library, one process (intra-process)\n");
  compareInProcess(frame, options);
  std::printf("== across two processes\n");
  acrossProcesses(frame, options);
  std::printf("== sustained, node program on one core\n");
  sustained(frame, options);
  rclcpp::shutdown();
  return 0;
}
