// SPDX-License-Identifier: Apache-2.0
#include "detection_array.hpp"

#include <string>

namespace vantorel_base_utils_nodes {
namespace {

vision_msgs::msg::Detection3D detectionOf(const vantorel_base_utils::InstancePoints& instance,
                                          const std_msgs::msg::Header& header) {
  vision_msgs::msg::Detection3D detection;
  detection.header = header;
  detection.id = std::to_string(instance.instance_id);
  geometry_msgs::msg::Pose centre;
  centre.position.x = instance.centroid[0];
  centre.position.y = instance.centroid[1];
  centre.position.z = instance.centroid[2];
  vision_msgs::msg::ObjectHypothesisWithPose hypothesis;
  hypothesis.hypothesis.class_id = std::to_string(instance.detection.cls);
  hypothesis.hypothesis.score = static_cast<double>(instance.detection.conf);
  hypothesis.pose.pose = centre;
  detection.results.push_back(std::move(hypothesis));
  detection.bbox.center = centre;
  detection.bbox.size.x = static_cast<double>(instance.max[0] - instance.min[0]);
  detection.bbox.size.y = static_cast<double>(instance.max[1] - instance.min[1]);
  detection.bbox.size.z = static_cast<double>(instance.max[2] - instance.min[2]);
  return detection;
}

}  // namespace

vision_msgs::msg::Detection3DArray detectionArray(
    const vantorel_base_utils::DetectionPoints& points, const std_msgs::msg::Header& header) {
  vision_msgs::msg::Detection3DArray array;
  array.header = header;
  for (const auto& instance : points.instances) {
    if (instance.point_count != 0) {
      array.detections.push_back(detectionOf(instance, header));
    }
  }
  return array;
}

}  // namespace vantorel_base_utils_nodes
