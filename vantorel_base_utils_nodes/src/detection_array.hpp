// SPDX-License-Identifier: Apache-2.0
// The instances of one frame as vision_msgs detections.
#ifndef VANTOREL_BASE_UTILS_NODES__DETECTION_ARRAY_HPP_
#define VANTOREL_BASE_UTILS_NODES__DETECTION_ARRAY_HPP_

#include <std_msgs/msg/header.hpp>
#include <vantorel_base_utils/detection_points.hpp>
#include <vision_msgs/msg/detection3_d_array.hpp>

namespace vantorel_base_utils_nodes {

// One detection per instance that has points, in instance order, each stamped with
// `header`: id the instance's number in the labelled cloud, one hypothesis with the
// detector's class id as decimal text and its confidence (its pose the centroid), the box
// centred on the centroid, axis-aligned, its size the extent of the instance's points. An
// instance without points has no place in space and is left out.
vision_msgs::msg::Detection3DArray detectionArray(
    const vantorel_base_utils::DetectionPoints& points, const std_msgs::msg::Header& header);

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__DETECTION_ARRAY_HPP_
