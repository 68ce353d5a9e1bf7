// SPDX-License-Identifier: Apache-2.0
// Instances as vision_msgs detections: the box around the instance's own points, the
// detector's class and score, and no box for an instance that has no point.
#include <gtest/gtest.h>

#include "detection_array.hpp"

namespace {

using vantorel_base_utils::InstancePoints;

InstancePoints instance(std::uint32_t id, int cls, float conf, std::size_t point_count) {
  InstancePoints points;
  points.instance_id = id;
  points.detection.cls = cls;
  points.detection.conf = conf;
  points.point_count = point_count;
  return points;
}

TEST(DetectionArray, BoxesEachInstanceWithPointsAroundItsCentroidAndExtent) {
  vantorel_base_utils::DetectionPoints points;
  points.instances.push_back(instance(1, 12, 0.75F, 0));  // seen, but no pixel had depth
  InstancePoints seen = instance(2, 3, 0.5F, 2);
  seen.centroid = {1.0, 2.0, 3.0};
  seen.min = {0.5F, 1.5F, 2.0F};
  seen.max = {1.5F, 3.5F, 5.0F};
  points.instances.push_back(seen);
  std_msgs::msg::Header header;
  header.frame_id = "map";

  const auto array = vantorel_base_utils_nodes::detectionArray(points, header);
  ASSERT_EQ(array.detections.size(), 1U);
  const auto& detection = array.detections[0];
  EXPECT_EQ(detection.header.frame_id, "map");
  EXPECT_EQ(detection.id, "2");
  ASSERT_EQ(detection.results.size(), 1U);
  EXPECT_EQ(detection.results[0].hypothesis.class_id, "3");
  EXPECT_DOUBLE_EQ(detection.results[0].hypothesis.score, 0.5);
  EXPECT_DOUBLE_EQ(detection.bbox.center.position.y, 2.0);
  EXPECT_DOUBLE_EQ(detection.results[0].pose.pose.position.z, 3.0);
  EXPECT_DOUBLE_EQ(detection.bbox.size.x, 1.0);
  EXPECT_DOUBLE_EQ(detection.bbox.size.y, 2.0);
  EXPECT_DOUBLE_EQ(detection.bbox.size.z, 3.0);
}

}  // namespace
