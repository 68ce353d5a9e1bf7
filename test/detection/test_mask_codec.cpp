#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "detection/mask_codec.hpp"
#include "support/runtime_error_text.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

std::string messageOf(const std::string& text, const std::string& label) {
  return vantorel_test::runtimeErrorText([&] { ymp::decodeMaskBase64(text, label); });
}

std::string base64Of(const std::vector<std::uint8_t>& bytes) {
  return ymp::encodeBase64(bytes.data(), bytes.size());
}

cv::Mat pattern(int rows, int cols) {
  cv::Mat mask(rows, cols, CV_8UC1);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      mask.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>((r * 31 + c * 7) % 256);
    }
  }
  return mask;
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// A PNG whose IHDR declares the given size; the data after it is irrelevant to the check.
std::vector<std::uint8_t> pngDeclaring(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> png;
  cv::imencode(".png", cv::Mat::zeros(1, 1, CV_8UC1), png);
  for (int i = 0; i < 4; ++i) {
    png[16 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    png[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  return png;
}

}  // namespace

TEST(Base64, StandardEncodingAndLenientDecoding) {
  EXPECT_EQ(base64Of({'M', 'a', 'n'}), "TWFu");
  EXPECT_EQ(base64Of({'M', 'a'}), "TWE=");
  EXPECT_EQ(base64Of({'M'}), "TQ==");
  EXPECT_EQ(base64Of({}), "");
  EXPECT_EQ(ymp::decodeBase64("TWFu"), (std::vector<std::uint8_t>{'M', 'a', 'n'}));
  EXPECT_EQ(ymp::decodeBase64("TW\r\nF-u_ "), (std::vector<std::uint8_t>{'M', 'a', 'n'}));
  EXPECT_EQ(ymp::decodeBase64("TWE=TWFu"), (std::vector<std::uint8_t>{'M', 'a'}));
  EXPECT_EQ(ymp::decodeBase64("QQ"), (std::vector<std::uint8_t>{0x41}));
  EXPECT_TRUE(ymp::decodeBase64("Q").empty());

  std::vector<std::uint8_t> all(256);
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i] = static_cast<std::uint8_t>(255 - i);
  }
  for (std::size_t n = 0; n <= all.size(); n += 37) {
    const std::vector<std::uint8_t> bytes(all.begin(), all.begin() + static_cast<long>(n));
    const std::string text = base64Of(bytes);
    EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(ymp::decodeBase64(text), bytes);
  }
}

TEST(MaskCodec, RoundTripsAndToleratesNoiseAroundTheText) {
  const cv::Mat mask = pattern(13, 21);
  const std::string text = ymp::encodeMaskBase64(mask);
  EXPECT_EQ(text.size() % 4, 0U);
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(text, "m"), mask));

  std::string broken;
  for (std::size_t i = 0; i < text.size(); i += 10) {
    broken += text.substr(i, 10) + "\n";
  }
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(broken, "m"), mask));
  std::string unpadded = text.substr(0, text.find('='));
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(unpadded + "=QUJD", "m"), mask));
}

TEST(MaskCodec, DecodesColourImagesToOneGrayChannel) {
  cv::Mat colour(4, 6, CV_8UC3, cv::Scalar(0, 0, 0));
  colour.at<cv::Vec3b>(1, 2) = {255, 255, 255};
  std::vector<std::uint8_t> png;
  ASSERT_TRUE(cv::imencode(".png", colour, png));
  const cv::Mat gray = ymp::decodeMaskBase64(base64Of(png), "m");
  EXPECT_EQ(gray.type(), CV_8UC1);
  EXPECT_EQ(gray.size(), cv::Size(6, 4));
  EXPECT_EQ(cv::countNonZero(gray), 1);
  EXPECT_EQ(gray.at<std::uint8_t>(1, 2), 255);
}

TEST(MaskCodec, ReportsFailuresWithTheLabel) {
  EXPECT_EQ(messageOf("", "masks_base64[1]"), "masks_base64[1] is empty or invalid Base64");
  EXPECT_EQ(messageOf("Q", "x"), "x is empty or invalid Base64");
  EXPECT_EQ(messageOf("=QUJD", "x"), "x is empty or invalid Base64");
  EXPECT_EQ(messageOf("QQ", "instance_masks[4]"), "instance_masks[4] PNG decode failed");

  std::vector<std::uint8_t> truncated;
  cv::imencode(".png", pattern(40, 40), truncated);
  truncated.resize(truncated.size() / 2);
  EXPECT_EQ(messageOf(base64Of(truncated), "t"), "t PNG decode failed");

  EXPECT_THROW(
      {
        try {
          ymp::encodeMaskBase64(cv::Mat());
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "failed to encode instance ROI mask");
          throw;
        }
      },
      std::runtime_error);
}

TEST(MaskCodec, RefusesDeclaredSizesAboveTheBoundBeforeDecoding) {
  // 100000 x 100000 would be 10 GB; a square just over the bound also fails without any
  // allocation for it, while the header check leaves ordinary sizes to the decoder.
  EXPECT_EQ(messageOf(base64Of(pngDeclaring(100000, 100000)), "big"), "big PNG decode failed");
  EXPECT_EQ(messageOf(base64Of(pngDeclaring(8193, 8192)), "big"), "big PNG decode failed");
  EXPECT_EQ(messageOf(base64Of(pngDeclaring(0xFFFFFFFFU, 0xFFFFFFFFU)), "big"),
            "big PNG decode failed");
  const cv::Mat wide = cv::Mat::zeros(1, 9000, CV_8UC1);
  EXPECT_EQ(ymp::decodeMaskBase64(ymp::encodeMaskBase64(wide), "w").cols, 9000);
}

TEST(MaskCodec, DecodesOnlyFormatsWhoseDeclaredSizeItCanCheck) {
  const cv::Mat mask(12, 20, CV_8UC1, cv::Scalar(200));
  for (const char* extension : {".bmp", ".jpg"}) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(extension, mask, bytes));
    EXPECT_EQ(ymp::decodeMaskBase64(base64Of(bytes), "m").size(), mask.size()) << extension;
  }
  std::vector<std::uint8_t> bmp;
  cv::imencode(".bmp", mask, bmp);
  bmp[22] = 0x00;  // height 0x7FFF0000 rows
  bmp[23] = 0x00;
  bmp[24] = 0xFF;
  bmp[25] = 0x7F;
  EXPECT_EQ(messageOf(base64Of(bmp), "b"), "b PNG decode failed");

  std::vector<std::uint8_t> pgm;
  ASSERT_TRUE(cv::imencode(".pgm", mask, pgm));
  EXPECT_EQ(messageOf(base64Of(pgm), "p"), "p PNG decode failed");
}
