// SPDX-License-Identifier: Apache-2.0
// The pinhole camera model built from a CameraInfo message, and its comparisons.
#include "vantorel_base_utils/camera_model.hpp"

#include <cmath>

namespace vantorel_base_utils {

namespace {

void copyMessageFields(const sensor_msgs::msg::CameraInfo& info, CameraModel& model) {
  model.info = info;
  model.frame_id = info.header.frame_id;
  model.width = info.width;
  model.height = info.height;
  model.distortion_model = info.distortion_model;
  model.d = info.d;
  model.k = info.k;
  model.r = info.r;
  model.p = info.p;
  model.roi = info.roi;
  model.binning_x = info.binning_x;
  model.binning_y = info.binning_y;
}

// Strict comparisons, so a NaN focal length counts as unusable.
bool focalLengthsUsable(double fx, double fy) {
  return fx > 0.0 && fy > 0.0;
}

}  // namespace

CameraModel cameraModelFromCameraInfo(const sensor_msgs::msg::CameraInfo& info) {
  CameraModel model;
  copyMessageFields(info, model);
  const auto& p = info.p;
  const auto& k = info.k;
  if (focalLengthsUsable(p[0], p[5])) {
    model.intrinsics_source = IntrinsicsSource::FromP;
    model.fx = p[0];
    model.fy = p[5];
    model.cx = p[2];
    model.cy = p[6];
    return model;
  }
  model.fx = k[0];
  model.fy = k[4];
  model.cx = k[2];
  model.cy = k[5];
  model.intrinsics_source =
      focalLengthsUsable(model.fx, model.fy) ? IntrinsicsSource::FromK : IntrinsicsSource::None;
  return model;
}

CameraModel cameraIntrinsicsFromCameraInfo(const sensor_msgs::msg::CameraInfo& info) {
  return cameraModelFromCameraInfo(info);
}

bool cameraInfoHasValidIntrinsics(const sensor_msgs::msg::CameraInfo& info) {
  const CameraModel model = cameraModelFromCameraInfo(info);
  return focalLengthsUsable(model.fx, model.fy);
}

bool cameraModelsNearlyEqual(const CameraModel& a, const CameraModel& b, double tolerance) {
  // "tolerance >= diff" is false whenever either side is NaN.
  return tolerance >= std::abs(a.fx - b.fx) && tolerance >= std::abs(a.fy - b.fy) &&
         tolerance >= std::abs(a.cx - b.cx) && tolerance >= std::abs(a.cy - b.cy);
}

bool cameraIntrinsicsNearlyEqual(const CameraModel& a, const CameraModel& b, double tolerance) {
  return cameraModelsNearlyEqual(a, b, tolerance);
}

}  // namespace vantorel_base_utils
