// SPDX-License-Identifier: Apache-2.0
// The depth image read in place: rows found by the message's step, nothing copied, and every
// buffer that does not hold the image it declares refused before it is read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include <vantorel_base_utils/input_error.hpp>

#include "depth_image_view.hpp"

namespace {

using vantorel_base_utils::InputError;
using vantorel_base_utils_nodes::depthImageView;

// A 3x2 16-bit image whose rows are padded to 8 bytes; pixel (row r, column c) holds 10r + c.
sensor_msgs::msg::Image paddedImage() {
  sensor_msgs::msg::Image image;
  image.width = 3;
  image.height = 2;
  image.encoding = "16UC1";
  image.step = 8;
  image.data.assign(16, 0xff);
  for (std::uint16_t r = 0; r < 2; ++r) {
    for (std::uint16_t c = 0; c < 3; ++c) {
      const std::uint16_t value = static_cast<std::uint16_t>(10 * r + c);
      std::memcpy(&image.data[r * 8U + c * 2U], &value, sizeof(value));
    }
  }
  return image;
}

std::string refusal(const sensor_msgs::msg::Image& image) {
  try {
    depthImageView(image);
  } catch (const InputError& e) {
    EXPECT_EQ(e.input(), "depth_image");
    return e.what();
  }
  return "accepted";
}

TEST(DepthImageView, ReadsRowsAStepApartInTheMessagesOwnBuffer) {
  const sensor_msgs::msg::Image image = paddedImage();
  const cv::Mat view = depthImageView(image);
  EXPECT_EQ(view.type(), CV_16UC1);
  EXPECT_EQ(view.at<std::uint16_t>(1, 2), 12);  // a view that ignored the padding reads 0xffff
  EXPECT_EQ(view.data, image.data.data());
}

TEST(DepthImageView, RefusesBuffersThatDoNotHoldTheDeclaredImage) {
  sensor_msgs::msg::Image image = paddedImage();
  image.encoding = "rgb8";
  EXPECT_NE(refusal(image).find("rgb8"), std::string::npos);

  image = paddedImage();
  image.data.resize(13);  // the last row needs 8 + 6 bytes
  EXPECT_NE(refusal(image).find("needs 14"), std::string::npos);

  image = paddedImage();
  image.step = 4;  // shorter than a row of three 2-byte pixels
  EXPECT_NE(refusal(image).find("step 4"), std::string::npos);

  image = paddedImage();
  image.is_bigendian = 1;
  EXPECT_NE(refusal(image).find("byte order"), std::string::npos);
}

}  // namespace
