// SPDX-License-Identifier: Apache-2.0
// Pinhole camera model taken from a sensor_msgs/CameraInfo message.
#ifndef VANTOREL_BASE_UTILS__CAMERA_MODEL_HPP_
#define VANTOREL_BASE_UTILS__CAMERA_MODEL_HPP_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/region_of_interest.hpp>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Which matrix of the message supplied fx, fy, cx, cy.
enum class IntrinsicsSource : std::int32_t {
  None = 0,   // focal lengths not both strictly positive: no usable intrinsics
  FromP = 1,  // projection matrix p
  FromK = 2,  // camera matrix k
};

struct CameraModel {
  sensor_msgs::msg::CameraInfo info;
  std::string frame_id;
  std::uint32_t width = 0;   // image columns
  std::uint32_t height = 0;  // image rows
  std::string distortion_model;
  std::vector<double> d;
  std::array<double, 9> k{};
  std::array<double, 9> r{};
  std::array<double, 12> p{};
  sensor_msgs::msg::RegionOfInterest roi;
  std::uint32_t binning_x = 0;
  std::uint32_t binning_y = 0;
  IntrinsicsSource intrinsics_source = IntrinsicsSource::None;
  double fx = 0.0;
  double fy = 0.0;
  double cx = 0.0;
  double cy = 0.0;
};

// Takes fx, fy, cx, cy from p when both of its focal entries are positive, otherwise
// from k; never mixes the two. Never fails: unusable input gives source None.
VANTOREL_BASE_UTILS_PUBLIC CameraModel
cameraModelFromCameraInfo(const sensor_msgs::msg::CameraInfo& info);
VANTOREL_BASE_UTILS_PUBLIC CameraModel
cameraIntrinsicsFromCameraInfo(const sensor_msgs::msg::CameraInfo& info);

// fx > 0 && fy > 0 for the model built from the message (false for NaN).
VANTOREL_BASE_UTILS_PUBLIC bool cameraInfoHasValidIntrinsics(
    const sensor_msgs::msg::CameraInfo& info);

// Compares fx, fy, cx, cy only; inclusive tolerance, false on any NaN.
VANTOREL_BASE_UTILS_PUBLIC bool cameraModelsNearlyEqual(const CameraModel& a, const CameraModel& b,
                                                        double tolerance);
VANTOREL_BASE_UTILS_PUBLIC bool cameraIntrinsicsNearlyEqual(const CameraModel& a,
                                                            const CameraModel& b, double tolerance);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__CAMERA_MODEL_HPP_
