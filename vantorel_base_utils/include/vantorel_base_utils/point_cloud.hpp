// SPDX-License-Identifier: Apache-2.0
// Projected points as sensor_msgs/PointCloud2 messages, the form ROS nodes publish, RViz shows
// and PCL converts: a cloud of points, the organised cloud of a whole depth image, and one
// cloud of every detected instance labelled with its class and instance.
//
// Every cloud holds the fields x, y, z (FLOAT32, offsets 0, 4, 8) in the host's byte order,
// as is_bigendian states (little-endian on x86-64 and ARM64), packed without padding, with
// row_step = point_step * width, and the header exactly as given. A cloud whose row would
// exceed 4 GiB, which row_step cannot state, throws InputError kOverLimit (input_error.hpp).
#ifndef VANTOREL_BASE_UTILS__POINT_CLOUD_HPP_
#define VANTOREL_BASE_UTILS__POINT_CLOUD_HPP_

#include <cstdint>
#include <vector>

#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/visibility_control.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {

// The frame a cloud's points are given in: the camera's optical frame (z forward, x right,
// y down, as depth_image_proc gives them), or through the context's transforms the arm base
// or the map. Name it in header.frame_id.
enum class CloudFrame : std::int32_t { Camera = 0, ArmBase = 1, Map = 2 };

// An unorganised cloud of the points, in their order: height 1, width the number of points,
// point_step 12, is_dense true (projected points are always finite).
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::PointCloud2 pointCloud2FromPoints(
    const std::vector<ProjectedPoint>& points, const std_msgs::msg::Header& header);

// The organised cloud of the whole depth image, as depth_image_proc's point_cloud_xyz gives
// it: height and width of the image, the point of pixel (u, v) at index v * width + u, NaN
// in x, y and z for a pixel without depth in the context's window, is_dense false. A pixel
// with depth lands where projecting it as a pixel list puts it.
// Throws InputError kMalformed "ProjectionContext is invalid" for a context the projections
// refuse.
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::PointCloud2 organizedPointCloud2(
    const ProjectionContext& ctx, CloudFrame frame, const std_msgs::msg::Header& header);

// Every instance of the pixel map projected into one unorganised cloud with the fields
// x, y, z, class_id (UINT32, offset 12) and instance_id (UINT32, offset 16), point_step 20,
// is_dense true. Instances are taken in the map's order (class keys in ascending order,
// instances in list order, as instancePixelMapToJson writes them) and numbered from 1:
// instance_id k marks the points of the k-th instance, whose pixels are the k-th instance
// array of the JSON; 0 is never used, so a merged cloud can keep it for "no instance". An
// instance whose pixels all lack depth keeps its number and has no points.
// Throws InputError: kMalformed "ProjectionContext is invalid" for a context the projections
// refuse, and "instance pixel map key \"<key>\" is not a class id from 0 to 2147483647" for
// a key that is not the decimal text of such an id (kOutOfRange for a negative id).
VANTOREL_BASE_UTILS_PUBLIC sensor_msgs::msg::PointCloud2 instancePointCloud2(
    const ProjectionContext& ctx, const yolo_mask_parser::InstancePixelMap& pixel_map,
    CloudFrame frame, const std_msgs::msg::Header& header);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__POINT_CLOUD_HPP_
