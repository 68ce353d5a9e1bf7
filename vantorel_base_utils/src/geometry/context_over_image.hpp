// SPDX-License-Identifier: Apache-2.0
// A projection context that reads the caller's depth pixels where they are; internal to the
// library, for calls that build a context, use it and drop it before they return.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__CONTEXT_OVER_IMAGE_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__CONTEXT_OVER_IMAGE_HPP_

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {

// What createProjectionContext's options entry builds, with its checks and failures, except
// that `depth` shares depth_image's pixels (and its row step) instead of copying them: the
// context is valid only while the caller's image is, and unchanged.
ProjectionContext projectionContextOverImage(const cv::Mat& depth_image, const CameraModel& model,
                                             const Eigen::Isometry3d& camera_to_arm_base,
                                             const Eigen::Isometry3d& arm_base_to_map,
                                             const DepthOptions& depth_options);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__CONTEXT_OVER_IMAGE_HPP_
