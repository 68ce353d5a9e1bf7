// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vantorel_base_utils/camera_model.hpp"

namespace vbu = vantorel_base_utils;

namespace {

sensor_msgs::msg::CameraInfo infoWith(std::array<double, 12> p, std::array<double, 9> k) {
  sensor_msgs::msg::CameraInfo info;
  info.p = p;
  info.k = k;
  return info;
}

const std::array<double, 9> kZero{};
const std::array<double, 12> pZero{};
const std::array<double, 9> kTypical{500, 0, 300, 0, 505, 200, 0, 0, 1};
const std::array<double, 12> pTypical{600, 0, 320, 0, 0, 610, 240, 0, 0, 0, 1, 0};

}  // namespace

TEST(CameraModel, CopiesTheMessageAndKeepsWidthAndHeightApart) {
  sensor_msgs::msg::CameraInfo info = infoWith(pTypical, kTypical);
  info.header.frame_id = "camera_optical";
  info.width = 1280;
  info.height = 720;
  info.distortion_model = "plumb_bob";
  info.d = {0.1, -0.2, 0.0, 0.0, 0.05};
  info.binning_x = 2;
  info.binning_y = 3;
  info.roi.x_offset = 4;
  info.roi.do_rectify = true;

  const vbu::CameraModel m = vbu::cameraModelFromCameraInfo(info);
  EXPECT_EQ(m.info, info);
  EXPECT_EQ(m.frame_id, "camera_optical");
  EXPECT_EQ(m.width, 1280u);
  EXPECT_EQ(m.height, 720u);
  EXPECT_EQ(m.distortion_model, "plumb_bob");
  EXPECT_EQ(m.d, info.d);
  EXPECT_EQ(m.k, info.k);
  EXPECT_EQ(m.p, info.p);
  EXPECT_EQ(m.roi, info.roi);
  EXPECT_EQ(m.binning_x, 2u);
  EXPECT_EQ(m.binning_y, 3u);
}

TEST(CameraModel, ChoosesWholeProjectionOrWholeCameraMatrix) {
  const vbu::CameraModel from_p = vbu::cameraModelFromCameraInfo(infoWith(pTypical, kTypical));
  EXPECT_EQ(from_p.intrinsics_source, vbu::IntrinsicsSource::FromP);
  EXPECT_EQ(from_p.fx, 600);
  EXPECT_EQ(from_p.fy, 610);
  EXPECT_EQ(from_p.cx, 320);
  EXPECT_EQ(from_p.cy, 240);

  // p[0] alone positive: no mixing, everything from k.
  std::array<double, 12> p_half = pTypical;
  p_half[5] = 0.0;
  const vbu::CameraModel from_k = vbu::cameraModelFromCameraInfo(infoWith(p_half, kTypical));
  EXPECT_EQ(from_k.intrinsics_source, vbu::IntrinsicsSource::FromK);
  EXPECT_EQ(from_k.fx, 500);
  EXPECT_EQ(from_k.fy, 505);
  EXPECT_EQ(from_k.cx, 300);
  EXPECT_EQ(from_k.cy, 200);

  std::array<double, 12> p_nan = pTypical;
  p_nan[0] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(vbu::cameraModelFromCameraInfo(infoWith(p_nan, kTypical)).intrinsics_source,
            vbu::IntrinsicsSource::FromK);
}

TEST(CameraModel, UnusableIntrinsicsKeepTheCopiedValues) {
  const vbu::CameraModel zero = vbu::cameraModelFromCameraInfo(sensor_msgs::msg::CameraInfo());
  EXPECT_EQ(zero.intrinsics_source, vbu::IntrinsicsSource::None);
  EXPECT_EQ(zero.fx, 0.0);
  EXPECT_EQ(zero.cy, 0.0);
  EXPECT_FALSE(vbu::cameraInfoHasValidIntrinsics(sensor_msgs::msg::CameraInfo()));

  const std::array<double, 9> k_negative{500, 0, 300, 0, -1, 200, 0, 0, 1};
  const vbu::CameraModel neg = vbu::cameraModelFromCameraInfo(infoWith(pZero, k_negative));
  EXPECT_EQ(neg.intrinsics_source, vbu::IntrinsicsSource::None);
  EXPECT_EQ(neg.fx, 500);
  EXPECT_EQ(neg.fy, -1);
  EXPECT_EQ(neg.cx, 300);
  EXPECT_EQ(neg.cy, 200);
  EXPECT_FALSE(vbu::cameraInfoHasValidIntrinsics(infoWith(pZero, k_negative)));

  std::array<double, 9> k_nan = kTypical;
  k_nan[4] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(vbu::cameraInfoHasValidIntrinsics(infoWith(pZero, k_nan)));
  EXPECT_TRUE(vbu::cameraInfoHasValidIntrinsics(infoWith(pZero, kTypical)));
  EXPECT_EQ(vbu::cameraIntrinsicsFromCameraInfo(infoWith(pZero, kTypical)).fx, 500);
}

TEST(CameraModel, NearEqualityComparesIntrinsicsInclusively) {
  sensor_msgs::msg::CameraInfo info = infoWith(pTypical, kZero);
  const vbu::CameraModel a = vbu::cameraModelFromCameraInfo(info);
  EXPECT_TRUE(vbu::cameraModelsNearlyEqual(a, a, 0.0));

  info.width = 99;
  info.d = {1.0};
  info.header.frame_id = "other";
  EXPECT_TRUE(vbu::cameraModelsNearlyEqual(a, vbu::cameraModelFromCameraInfo(info), 0.0));

  vbu::CameraModel b = a;
  b.cx += 1e-12;
  EXPECT_FALSE(vbu::cameraModelsNearlyEqual(a, b, 0.0));

  b = a;
  b.cy = a.cy + 0.5;  // exactly representable difference equal to the tolerance
  EXPECT_TRUE(vbu::cameraIntrinsicsNearlyEqual(a, b, 0.5));
  EXPECT_FALSE(vbu::cameraIntrinsicsNearlyEqual(a, b, 0.25));

  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(vbu::cameraModelsNearlyEqual(a, a, nan));
  b = a;
  b.fy = nan;
  EXPECT_FALSE(vbu::cameraModelsNearlyEqual(b, b, 1.0));
}
