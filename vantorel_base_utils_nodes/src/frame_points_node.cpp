// SPDX-License-Identifier: Apache-2.0
#include "vantorel_base_utils_nodes/frame_points_node.hpp"

#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <message_filters/subscriber.h>
#include <message_filters/sync_policies/approximate_time.h>
#include <message_filters/sync_policies/exact_time.h>
#include <message_filters/synchronizer.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <rclcpp_components/register_node_macro.hpp>
#include <vantorel_base_utils/camera_model.hpp>
#include <vantorel_base_utils/detection_points.hpp>
#include <vantorel_base_utils/input_error.hpp>
#include <vantorel_base_utils/transforms.hpp>

#include "depth_image_view.hpp"
#include "detection_array.hpp"
#include "frame_drops.hpp"
#include "frame_points_parameters.hpp"
#include "transform_listener.hpp"

namespace vantorel_base_utils_nodes {
namespace {

namespace vbu = vantorel_base_utils;
using Clock = std::chrono::steady_clock;
using Image = FramePointsNode::Image;
using CameraInfo = FramePointsNode::CameraInfo;
using DetectionResult = FramePointsNode::DetectionResult;
using ExactSync = message_filters::sync_policies::ExactTime<Image, CameraInfo, DetectionResult>;
using ApproximateSync =
    message_filters::sync_policies::ApproximateTime<Image, CameraInfo, DetectionResult>;

// How often frames waiting for their transforms are tried again.
constexpr auto kTransformPollPeriod = std::chrono::milliseconds(5);
// At most one warning about dropped frames a second; the rest are counted in the next one.
constexpr auto kDropWarningPeriod = std::chrono::seconds(1);

std::string stampText(const builtin_interfaces::msg::Time& stamp) {
  char text[32];
  std::snprintf(text, sizeof(text), "%d.%09u", stamp.sec, stamp.nanosec);
  return text;
}

// Why the three messages of a frame do not belong together, or "" when they do.
std::string mismatchOf(const Image& image, const CameraInfo& info,
                       const DetectionResult& detections) {
  const std::string& frame = image.header.frame_id;
  if (frame.empty()) {
    return "the depth image has no frame_id";
  }
  if (info.width != image.width || info.height != image.height) {
    return "camera_info is for " + std::to_string(info.width) + "x" + std::to_string(info.height) +
           " images, the depth image is " + std::to_string(image.width) + "x" +
           std::to_string(image.height);
  }
  if (!info.header.frame_id.empty() && info.header.frame_id != frame) {
    return "camera_info is in frame '" + info.header.frame_id + "', the depth image in '" + frame +
           "'";
  }
  if (!detections.header.frame_id.empty() && detections.header.frame_id != frame) {
    return "the detections are for frame '" + detections.header.frame_id +
           "', the depth image is in '" + frame + "'";
  }
  return "";
}

}  // namespace

struct FramePointsNode::Impl {
  struct Frame {
    Image::ConstSharedPtr image;
    CameraInfo::ConstSharedPtr info;
    DetectionResult::ConstSharedPtr detections;
    Clock::time_point deadline;
  };
  struct Transforms {
    Eigen::Isometry3d camera_to_arm_base = Eigen::Isometry3d::Identity();
    Eigen::Isometry3d arm_base_to_map = Eigen::Isometry3d::Identity();
  };

  explicit Impl(FramePointsSettings s) : settings(std::move(s)), drops(kDropWarningPeriod) {}

  std::optional<Transforms> lookUp(const Frame& frame, std::string& error) const;
  // Projects and publishes the frame, or drops it saying why; throws nothing.
  void process(FramePointsNode& node, const Frame& frame, const Transforms& transforms);
  void publish(const Frame& frame, vbu::DetectionPoints& result);

  FramePointsSettings settings;
  std::shared_ptr<tf2_ros::Buffer> buffer;
  std::shared_ptr<tf2_ros::TransformListener> listener;
  message_filters::Subscriber<Image> image_sub;
  message_filters::Subscriber<CameraInfo> info_sub;
  message_filters::Subscriber<DetectionResult> detections_sub;
  std::unique_ptr<message_filters::Synchronizer<ExactSync>> exact_sync;
  std::unique_ptr<message_filters::Synchronizer<ApproximateSync>> approximate_sync;
  rclcpp::Publisher<sensor_msgs::msg::PointCloud2>::SharedPtr points_pub;
  rclcpp::Publisher<vision_msgs::msg::Detection3DArray>::SharedPtr detections_pub;
  rclcpp::Publisher<sensor_msgs::msg::PointCloud2>::SharedPtr organized_pub;
  rclcpp::TimerBase::SharedPtr poll_timer;
  std::deque<Frame> pending;  // frames waiting for their transforms, in stamp order
  std::optional<rclcpp::Time> last_stamp;
  rclcpp::Logger road_logger = rclcpp::get_logger("frame_points_node.road");
  mutable std::mutex drops_mutex;  // the counts are read from other threads
  FrameDrops drops;
};

std::optional<FramePointsNode::Impl::Transforms> FramePointsNode::Impl::lookUp(
    const Frame& frame, std::string& error) const {
  const tf2::TimePoint when = tf2_ros::fromMsg(frame.image->header.stamp);
  const std::string& camera = frame.image->header.frame_id;
  const bool to_map = settings.road.frame == vbu::CloudFrame::Map;
  if (!buffer->canTransform(settings.arm_base_frame, camera, when, &error) ||
      (to_map &&
       !buffer->canTransform(settings.map_frame, settings.arm_base_frame, when, &error))) {
    return std::nullopt;
  }
  Transforms transforms;
  transforms.camera_to_arm_base = Eigen::Isometry3d(
      vbu::toEigenTransform(buffer->lookupTransform(settings.arm_base_frame, camera, when)));
  if (to_map) {
    transforms.arm_base_to_map = Eigen::Isometry3d(vbu::toEigenTransform(
        buffer->lookupTransform(settings.map_frame, settings.arm_base_frame, when)));
  }
  return transforms;
}

void FramePointsNode::Impl::process(FramePointsNode& node, const Frame& frame,
                                    const Transforms& transforms) {
  const Image& image = *frame.image;
  std::string reason;
  try {
    vbu::DetectionPoints result = vbu::projectDetections(
        frame.detections->result_json, depthImageView(image),
        vbu::cameraModelFromCameraInfo(*frame.info), transforms.camera_to_arm_base,
        transforms.arm_base_to_map, settings.road, road_logger);
    if (result.dropped.empty()) {
      const std::size_t points = result.labelled_cloud.width;
      const std::size_t instances = result.instances.size();
      publish(frame, result);
      if (node.published_++ == 0) {  // once, so that a start-up shows the road works
        RCLCPP_INFO(node.get_logger(), "first frame published: %zu points of %zu instances", points,
                    instances);
      }
      return;
    }
    // Publishing the rest would pass off part of the frame as all of it.
    reason = result.dropped.front().collection + " " + result.dropped.front().key + ": " +
             result.dropped.front().message;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "an unknown error";
  }
  node.dropFrame(image, reason);
}

void FramePointsNode::Impl::publish(const Frame& frame, vbu::DetectionPoints& result) {
  std_msgs::msg::Header header;
  header.stamp = frame.image->header.stamp;
  header.frame_id =
      settings.road.frame == vbu::CloudFrame::Map ? settings.map_frame : settings.arm_base_frame;
  // Built whole before the first goes out, so that a frame is published all or not at all.
  auto cloud = std::make_unique<sensor_msgs::msg::PointCloud2>(std::move(result.labelled_cloud));
  cloud->header = header;
  auto detections =
      std::make_unique<vision_msgs::msg::Detection3DArray>(detectionArray(result, header));
  std::unique_ptr<sensor_msgs::msg::PointCloud2> organized;
  if (organized_pub && result.organized_cloud) {
    organized = std::make_unique<sensor_msgs::msg::PointCloud2>(std::move(*result.organized_cloud));
    organized->header.stamp = header.stamp;
    organized->header.frame_id = frame.image->header.frame_id;
  }
  points_pub->publish(std::move(cloud));
  detections_pub->publish(std::move(detections));
  if (organized) {
    organized_pub->publish(std::move(organized));
  }
}

FramePointsNode::FramePointsNode(const rclcpp::NodeOptions& options)
    : rclcpp::Node("frame_points_node", options),
      impl_(std::make_unique<Impl>(readFramePointsSettings(*this))) {
  Impl& impl = *impl_;
  impl.road_logger = get_logger().get_child("road");
  // The library's own messages on a bad frame say what this node's warning says, once a
  // frame and unthrottled; `--log-level frame_points_node.road:=warn` brings them back.
  const char* road = impl.road_logger.get_name();
  if (rcutils_logging_get_logger_level(road) == RCUTILS_LOG_SEVERITY_UNSET &&
      rcutils_logging_set_logger_level(road, RCUTILS_LOG_SEVERITY_FATAL) != RCUTILS_RET_OK) {
    rcutils_reset_error();
  }
  impl.buffer = std::make_shared<tf2_ros::Buffer>(get_clock());
  impl.listener = makeTransformListener(*impl.buffer, this);

  // Reliable outputs, so that RViz's default subscriptions see them.
  const rclcpp::QoS output_qos = rclcpp::QoS(rclcpp::KeepLast(5)).reliable();
  impl.points_pub = create_publisher<sensor_msgs::msg::PointCloud2>("points", output_qos);
  impl.detections_pub =
      create_publisher<vision_msgs::msg::Detection3DArray>("detections_3d", output_qos);
  if (impl.settings.publish_organized) {
    impl.organized_pub =
        create_publisher<sensor_msgs::msg::PointCloud2>("organized_points", output_qos);
  }

  impl.poll_timer = create_wall_timer(kTransformPollPeriod, [this] { drainPending(); });
  impl.poll_timer->cancel();

  impl.image_sub.subscribe(this, "depth/image", rmw_qos_profile_sensor_data);
  impl.info_sub.subscribe(this, "depth/camera_info", rmw_qos_profile_sensor_data);
  rmw_qos_profile_t detections_qos = rmw_qos_profile_default;
  detections_qos.depth = impl.settings.queue_size;
  impl.detections_sub.subscribe(this, "detections", detections_qos);
  const std::uint32_t queue = static_cast<std::uint32_t>(impl.settings.queue_size);
  if (impl.settings.approximate_sync) {
    impl.approximate_sync = std::make_unique<message_filters::Synchronizer<ApproximateSync>>(
        ApproximateSync(queue), impl.image_sub, impl.info_sub, impl.detections_sub);
    impl.approximate_sync->registerCallback(&FramePointsNode::onFrame, this);
  } else {
    impl.exact_sync = std::make_unique<message_filters::Synchronizer<ExactSync>>(
        ExactSync(queue), impl.image_sub, impl.info_sub, impl.detections_sub);
    impl.exact_sync->registerCallback(&FramePointsNode::onFrame, this);
  }
  RCLCPP_INFO(get_logger(), "publishing %s and %s in frame '%s'", impl.points_pub->get_topic_name(),
              impl.detections_pub->get_topic_name(),
              (impl.settings.road.frame == vbu::CloudFrame::Map ? impl.settings.map_frame
                                                                : impl.settings.arm_base_frame)
                  .c_str());
}

FramePointsNode::~FramePointsNode() = default;

std::uint64_t FramePointsNode::droppedFrameCount() const {
  std::lock_guard<std::mutex> lock(impl_->drops_mutex);
  return impl_->drops.total();
}

std::string FramePointsNode::lastDropReason() const {
  std::lock_guard<std::mutex> lock(impl_->drops_mutex);
  return impl_->drops.lastReason();
}

void FramePointsNode::dropFrame(const Image& image, const std::string& reason) {
  std::optional<std::string> line;
  {
    std::lock_guard<std::mutex> lock(impl_->drops_mutex);
    line =
        impl_->drops.drop("frame " + stampText(image.header.stamp) + ": " + reason, Clock::now());
  }
  if (line) {
    RCLCPP_WARN(get_logger(), "%s", line->c_str());
  }
}

void FramePointsNode::onFrame(const Image::ConstSharedPtr& image,
                              const CameraInfo::ConstSharedPtr& info,
                              const DetectionResult::ConstSharedPtr& detections) {
  Impl& impl = *impl_;
  // What the messages alone refuse goes at once, not after waiting for transforms.
  std::string mismatch = mismatchOf(*image, *info, *detections);
  try {
    if (mismatch.empty()) {
      depthImageView(*image);
    }
  } catch (const std::exception& e) {
    mismatch = e.what();
  }
  if (!mismatch.empty()) {
    dropFrame(*image, mismatch);
    return;
  }
  const rclcpp::Time stamp(image->header.stamp);
  if (impl.last_stamp && stamp <= *impl.last_stamp) {
    dropFrame(*image,
              "stamp out of order, not after the previous frame's " + stampText(*impl.last_stamp));
    return;
  }
  impl.last_stamp = stamp;
  const auto wait = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(impl.settings.tf_timeout));
  impl.pending.push_back({image, info, detections, Clock::now() + wait});
  if (impl.pending.size() > impl.settings.queue_size) {
    dropFrame(*impl.pending.front().image,
              "more than queue_size frames waiting for their transforms");
    impl.pending.pop_front();
  }
  drainPending();
}

void FramePointsNode::drainPending() {
  Impl& impl = *impl_;
  while (!impl.pending.empty()) {
    const Impl::Frame& frame = impl.pending.front();
    std::string error;
    std::optional<Impl::Transforms> transforms;
    try {
      transforms = impl.lookUp(frame, error);
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!transforms && Clock::now() < frame.deadline) {
      break;  // later frames wait behind it, so that outputs keep their stamps' order
    }
    if (transforms) {
      impl.process(*this, frame, *transforms);
    } else {
      dropFrame(*frame.image, "no transform within tf_timeout: " + error);
    }
    impl.pending.pop_front();
  }
  if (impl.pending.empty()) {
    impl.poll_timer->cancel();
  } else if (impl.poll_timer->is_canceled()) {
    impl.poll_timer->reset();
  }
}

}  // namespace vantorel_base_utils_nodes

RCLCPP_COMPONENTS_REGISTER_NODE(vantorel_base_utils_nodes::FramePointsNode)
