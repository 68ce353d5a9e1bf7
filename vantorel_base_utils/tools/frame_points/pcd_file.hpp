// SPDX-License-Identifier: Apache-2.0
// Point clouds as PCD files, the format PCL reads and writes.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PCD_FILE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PCD_FILE_HPP_

#include <string>

#include <sensor_msgs/msg/point_cloud2.hpp>

namespace vantorel_tools {

// A binary PCD file (version 0.7) of any PointCloud2 in the host's byte order: one PCD field
// per PointField, in the order of their offsets, with the cloud's width and height and an
// identity viewpoint; the body holds each point's fields packed, without the cloud's padding.
// Throws std::invalid_argument for a cloud PCD cannot hold or whose fields and data do not
// fit together (unknown datatype, a name PCD cannot carry, overlapping fields, too few bytes).
std::string pcdBinary(const sensor_msgs::msg::PointCloud2& cloud);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PCD_FILE_HPP_
