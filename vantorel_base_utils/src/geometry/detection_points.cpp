// SPDX-License-Identifier: Apache-2.0
// The road of one camera frame: detections kept, cut into pixel lists, projected once into
// the labelled cloud, their point lists and their centroids and extents.
#include "vantorel_base_utils/detection_points.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "detection/detection_selection.hpp"
#include "geometry/context_over_image.hpp"
#include "geometry/labelled_cloud.hpp"

namespace vantorel_base_utils {

namespace {

namespace ymp = yolo_mask_parser;
using Reason = InputError::Reason;

constexpr const char* kResultName = "yolo_result";

// The JSON library's words without its "[json.exception.type_error.302] " tag.
std::string withoutExceptionTag(const std::string& text) {
  const std::size_t tag_end = text.rfind("] ", text.find(' '));
  return text.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos
             ? text.substr(tag_end + 2)
             : text;
}

// The parser's own messages name the result already ("yolo_result cls_list[2] ...").
std::string namingTheResult(const std::string& text) {
  return text.rfind(kResultName, 0) == 0 ? text : std::string(kResultName) + ": " + text;
}

// A member given twice would be read as its last value without a word; the text is refused
// instead, before the parser logs anything.
ymp::ParsedYolo parseResult(const std::string& text, const rclcpp::Logger& logger) {
  ymp::requireUniqueMembers(text);
  try {
    return ymp::parseYoloResult(text, logger);
  } catch (const InputError&) {
    throw;
  } catch (const nlohmann::json::parse_error& e) {
    throw InputError(
        Reason::kMalformed, kResultName,
        std::string(kResultName) + " is not valid JSON (at byte " + std::to_string(e.byte) + ")");
  } catch (const nlohmann::json::exception& e) {
    throw InputError(Reason::kMalformed, kResultName,
                     namingTheResult(withoutExceptionTag(e.what())));
  } catch (const std::runtime_error& e) {
    throw InputError(Reason::kMalformed, kResultName, namingTheResult(e.what()));
  }
}

// Why a detection cannot reach the outputs, if it cannot: class_id is unsigned in the cloud,
// and a confidence or corner beyond float would reach them as no number at all.
std::optional<DroppedInput> unusable(const ymp::YoloDetection& d) {
  const std::string index = std::to_string(d.index);
  if (d.cls < 0) {
    return DroppedInput{
        "detections", index, Reason::kOutOfRange,
        "detection " + index + " has the negative class id " + std::to_string(d.cls)};
  }
  for (const float value : {d.x1, d.y1, d.x2, d.y2, d.conf}) {
    if (!std::isfinite(value)) {
      return DroppedInput{
          "detections", index, Reason::kNotFinite,
          "detection " + index + " has a box corner or confidence beyond the range of float"};
    }
  }
  return std::nullopt;
}

// The detections that go on, after the class filter, suppression and the usability check; a
// copy of the parsed result is made only where a step leaves something out.
class KeptDetections {
 public:
  KeptDetections(const ymp::ParsedYolo& parsed, const DetectionPointsOptions& options)
      : kept_(&parsed) {
    if (!options.keep_classes.empty()) {
      replaceWith(ymp::filterParsedYolo(*kept_, options.keep_classes));
    }
    const std::size_t count = kept_->detections.size();
    const std::vector<bool> suppressed =
        options.nms_iou_threshold ? ymp::sameClassSuppressed(*kept_, *options.nms_iou_threshold)
                                  : std::vector<bool>(count, false);
    std::vector<bool> keep(count, false);
    bool all_kept = true;
    for (std::size_t position = 0; position < count; ++position) {
      const ymp::YoloDetection& detection = kept_->detections[position];
      if (suppressed[position]) {
        suppressed_.push_back(detection.index);
      } else if (auto problem = unusable(detection)) {
        dropped_.push_back(std::move(*problem));
      } else {
        keep[position] = true;
      }
      all_kept = all_kept && keep[position];
    }
    if (!all_kept) {
      replaceWith(ymp::carryOver(*kept_, keep));
    }
  }

  const ymp::ParsedYolo& parsed() const { return *kept_; }
  std::vector<std::size_t> takeSuppressed() { return std::move(suppressed_); }
  std::vector<DroppedInput> takeDropped() { return std::move(dropped_); }

 private:
  void replaceWith(ymp::ParsedYolo parsed) {
    storage_ = std::move(parsed);
    kept_ = &storage_;
  }

  const ymp::ParsedYolo* kept_;
  ymp::ParsedYolo storage_;
  std::vector<std::size_t> suppressed_;
  std::vector<DroppedInput> dropped_;
};

// The codec's and the instance masks' own failures are plain std::runtime_error.
ymp::InstancePixelsResult pixelsOf(const ymp::ParsedYolo& parsed, const cv::Mat& depth_image,
                                   const DetectionPointsOptions& options,
                                   const rclcpp::Logger& logger) {
  ymp::MaskBudget budget;
  budget.frame = depth_image.size();
  budget.max_total_pixels = options.max_mask_pixels;
  try {
    return ymp::buildInstancePixels(parsed, logger, budget);
  } catch (const InputError&) {
    throw;
  } catch (const std::runtime_error& e) {
    const std::string text = e.what();
    const bool misfit = text == "instance mask dimensions do not match its bbox window";
    throw InputError(misfit ? Reason::kSizeMismatch : Reason::kMalformed, "instance_masks", text);
  }
}

// Instance numbers follow the instance pixel map: class ids in the order of their decimal
// text, then detection order.
std::vector<std::size_t> cloudOrder(const std::vector<InstancePoints>& instances) {
  std::vector<std::string> keys;
  keys.reserve(instances.size());
  for (const InstancePoints& instance : instances) {
    keys.push_back(std::to_string(instance.detection.cls));
  }
  std::vector<std::size_t> order(instances.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  return order;
}

// Checked on the pixel lists, before any point is made from them.
void checkPointBudget(const std::vector<InstancePoints>& instances, std::uint64_t max_points) {
  std::uint64_t pixels = 0;
  for (const InstancePoints& instance : instances) {
    pixels += instance.pixels.size();
  }
  if (pixels > max_points) {
    throw InputError(Reason::kOverLimit, "max_points",
                     "the masks give " + std::to_string(pixels) +
                         " pixels to project, more than the budget of " +
                         std::to_string(max_points) + " points");
  }
}

void projectInstances(const ProjectionContext& context, const DetectionPointsOptions& options,
                      DetectionPoints& result) {
  std::vector<InstancePoints>& instances = result.instances;
  std::vector<labelled_cloud::PointSummary> summaries(instances.size());
  std::vector<labelled_cloud::Instance> cloud_instances;
  cloud_instances.reserve(instances.size());
  std::uint32_t instance_id = 0;
  for (const std::size_t position : cloudOrder(instances)) {
    InstancePoints& instance = instances[position];
    instance.instance_id = ++instance_id;
    cloud_instances.push_back({static_cast<std::uint32_t>(instance.detection.cls), &instance.pixels,
                               options.instance_points ? &instance.points : nullptr,
                               &summaries[position]});
  }
  result.labelled_cloud = labelled_cloud::projectLabelledCloud(
      context, options.frame, cloud_instances, std_msgs::msg::Header());
  for (std::size_t position = 0; position < instances.size(); ++position) {
    const labelled_cloud::PointSummary& summary = summaries[position];
    InstancePoints& instance = instances[position];
    instance.point_count = summary.count;
    for (std::size_t axis = 0; axis < 3 && summary.count > 0; ++axis) {
      instance.centroid[axis] = summary.sum[axis] / static_cast<double>(summary.count);
    }
    instance.min = summary.min;
    instance.max = summary.max;
  }
}

}  // namespace

DetectionPoints projectDetections(const std::string& yolo_result, const cv::Mat& depth_image,
                                  const CameraModel& camera,
                                  const Eigen::Isometry3d& camera_to_arm_base,
                                  const Eigen::Isometry3d& arm_base_to_map,
                                  const DetectionPointsOptions& options,
                                  const rclcpp::Logger& logger) {
  return projectDetections(parseResult(yolo_result, logger), depth_image, camera,
                           camera_to_arm_base, arm_base_to_map, options, logger);
}

DetectionPoints projectDetections(const ymp::ParsedYolo& parsed, const cv::Mat& depth_image,
                                  const CameraModel& camera,
                                  const Eigen::Isometry3d& camera_to_arm_base,
                                  const Eigen::Isometry3d& arm_base_to_map,
                                  const DetectionPointsOptions& options,
                                  const rclcpp::Logger& logger) {
  // First, so that a camera or transform that cannot serve costs no mask decoding.
  const ProjectionContext context = projectionContextOverImage(
      depth_image, camera, camera_to_arm_base, arm_base_to_map, options.depth);
  KeptDetections kept(parsed, options);
  ymp::InstancePixelsResult pixels = pixelsOf(kept.parsed(), depth_image, options, logger);

  DetectionPoints result;
  result.suppressed = kept.takeSuppressed();
  result.dropped = kept.takeDropped();
  result.dropped.insert(result.dropped.end(), std::make_move_iterator(pixels.dropped.begin()),
                        std::make_move_iterator(pixels.dropped.end()));
  // buildInstancePixels gives one record per detection, in detection order.
  const std::vector<ymp::YoloDetection>& detections = kept.parsed().detections;
  result.instances.resize(detections.size());
  for (std::size_t position = 0; position < detections.size(); ++position) {
    result.instances[position].detection = detections[position];
    result.instances[position].pixels = std::move(pixels.instances[position].pixels);
  }
  checkPointBudget(result.instances, options.max_points);
  projectInstances(context, options, result);
  if (options.organized_frame) {
    result.organized_cloud =
        organizedPointCloud2(context, *options.organized_frame, std_msgs::msg::Header());
  }
  return result;
}

}  // namespace vantorel_base_utils
