// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <opencv2/imgcodecs.hpp>

#include "support/input_error_reason.hpp"
#include "support/png_claiming.hpp"
#include "support/runtime_error_text.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"

namespace vbu = vantorel_base_utils;
using Reason = vbu::InputError::Reason;
using vantorel_test::inputErrorReason;

namespace {

vbu::CameraModel camera(std::uint32_t width, std::uint32_t height) {
  vbu::CameraModel model;
  model.width = width;
  model.height = height;
  return model;
}

}  // namespace

TEST(DepthImageFile, ReadsSixteenBitAndFloatDepthAsStored) {
  vantorel_test::TempDir dir;
  cv::Mat raw(3, 4, CV_16UC1);
  cv::randu(raw, 0, 65535);
  const cv::Mat metres(3, 4, CV_32FC1, cv::Scalar(1.25F));
  const cv::Mat big_endian_ones(3, 4, CV_16UC1, cv::Scalar(0x0102));
  ASSERT_TRUE(cv::imwrite(dir.file("depth.png"), raw));
  ASSERT_TRUE(cv::imwrite(dir.file("depth.tiff"), metres));
  std::string pgm = "P5 4 3 65535\n";
  for (int i = 0; i < 12; ++i) {
    pgm += "\x01\x02";
  }
  std::ofstream(dir.file("depth.pgm"), std::ios::binary) << pgm;
  for (const auto& [name, expected] : {std::pair{"depth.png", raw}, std::pair{"depth.tiff", metres},
                                       std::pair{"depth.pgm", big_endian_ones}}) {
    const cv::Mat read = vbu::readDepthImage(dir.file(name), camera(4, 3));
    ASSERT_EQ(read.type(), expected.type()) << name;
    EXPECT_EQ(cv::norm(read, expected, cv::NORM_INF), 0.0) << name;
  }
}

// Each refusal comes from the header, before a pixel is decoded, with the reason to act on.
TEST(DepthImageFile, RefusesFromTheHeaderWithAReason) {
  vantorel_test::TempDir dir;
  const auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir.file(name), std::ios::binary) << bytes;
    return dir.file(name);
  };
  const std::string claims = write("claims.png", vantorel_test::pngClaiming(8192, 8192, ""));
  const auto read = [](const std::string& path, const vbu::CameraModel& model) {
    return [path, model] { vbu::readDepthImage(path, model); };
  };
  EXPECT_EQ(vantorel_test::runtimeErrorText(read(claims, camera(640, 480))),
            claims + ": depth image is 8192x8192 but the calibration says 640x480");
  EXPECT_EQ(inputErrorReason(read(claims, camera(640, 480))), Reason::kSizeMismatch);
  // A camera that states no size bounds nothing; the pixel bound does.
  const std::string huge = write("huge.png", vantorel_test::pngClaiming(20000, 20000, ""));
  EXPECT_EQ(inputErrorReason(read(huge, camera(0, 0))), Reason::kOverLimit);
  ASSERT_TRUE(cv::imwrite(dir.file("gray.png"), cv::Mat(3, 4, CV_8UC1, cv::Scalar(9))));
  EXPECT_EQ(inputErrorReason(read(dir.file("gray.png"), camera(4, 3))), Reason::kUnsupported);
  EXPECT_EQ(inputErrorReason(read(write("text.png", "plain text"), camera(4, 3))),
            Reason::kUnsupported);
  EXPECT_EQ(inputErrorReason(read(dir.file("missing.png"), camera(4, 3))), Reason::kUnreadable);
  EXPECT_EQ(inputErrorReason(read("/dev/zero", camera(4, 3))), Reason::kUnreadable);
  EXPECT_EQ(
      inputErrorReason(read(write("cut.png", vantorel_test::pngClaiming(4, 3, "")), camera(4, 3))),
      Reason::kMalformed);
}
