// SPDX-License-Identifier: Apache-2.0
// The labelled cloud of projected instances, written as each instance is projected; internal
// to the library. Defined beside the other clouds in point_cloud.cpp.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__LABELLED_CLOUD_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__LABELLED_CLOUD_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>

#include "vantorel_base_utils/point_cloud.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {
namespace labelled_cloud {

// What an instance's points add up to: their number, the sums of their coordinates in double
// (added in point order), and their bounds (zeros when there are no points).
struct PointSummary {
  std::size_t count = 0;
  std::array<double, 3> sum{};
  std::array<float, 3> min{};
  std::array<float, 3> max{};
};

// One instance of the cloud and where its results go besides the cloud.
struct Instance {
  std::uint32_t class_id = 0;
  const std::vector<std::array<int, 2>>* pixels = nullptr;
  std::vector<ProjectedPoint>* points = nullptr;  // when set: receives its points
  PointSummary* summary = nullptr;                // when set: receives their summary
};

// Projects each instance's pixels once, in the given order, into the cloud instancePointCloud2
// describes: the k-th instance's points carry instance_id k. Throws what instancePointCloud2
// throws for the context and for a row beyond row_step.
sensor_msgs::msg::PointCloud2 projectLabelledCloud(const ProjectionContext& ctx, CloudFrame frame,
                                                   const std::vector<Instance>& instances,
                                                   const std_msgs::msg::Header& header);

}  // namespace labelled_cloud
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__LABELLED_CLOUD_HPP_
