// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "detection/mask_codec.hpp"
#include "detection/png_fast_path/png_gray_decode.hpp"
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

using Bytes = std::vector<std::uint8_t>;

void putBigEndian(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
}

void appendChunk(Bytes& png, const char* type, const Bytes& body) {
  putBigEndian(png, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), body.begin(), body.end());
  putBigEndian(png, libdeflate_crc32(0, &png[start], body.size() + 4));
}

Bytes zlibOf(const Bytes& raw) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  Bytes out(libdeflate_zlib_compress_bound(compressor, raw.size()));
  out.resize(libdeflate_zlib_compress(compressor, raw.data(), raw.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

// A grayscale PNG of `depth` bits whose rows use the filter types in turn; the zlib stream
// is split over IDAT chunks of `idat_size` bytes.
Bytes grayPng(const cv::Mat& samples, int depth, const std::vector<int>& filters,
              std::size_t idat_size = 1 << 20) {
  const auto row_bytes = static_cast<std::size_t>((samples.cols * depth + 7) / 8);
  Bytes raw;
  Bytes above(row_bytes, 0);
  for (int r = 0; r < samples.rows; ++r) {
    Bytes row(row_bytes, 0);
    for (int c = 0; c < samples.cols; ++c) {
      const int bit = c * depth;
      row[static_cast<std::size_t>(bit / 8)] |=
          static_cast<std::uint8_t>(samples.at<std::uint8_t>(r, c) << (8 - depth - bit % 8));
    }
    const int filter = filters[static_cast<std::size_t>(r) % filters.size()];
    raw.push_back(static_cast<std::uint8_t>(filter));
    for (std::size_t i = 0; i < row_bytes; ++i) {
      const int a = i > 0 ? row[i - 1] : 0;
      const int b = above[i];
      const int c = i > 0 ? above[i - 1] : 0;
      const int p = a + b - c;
      const int paeth = (std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c))
                            ? a
                            : (std::abs(p - b) <= std::abs(p - c) ? b : c);
      const int predicted[] = {0, a, b, (a + b) / 2, paeth, 0};  // 5: no such filter
      raw.push_back(static_cast<std::uint8_t>(row[i] - predicted[filter]));
    }
    above = row;
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  putBigEndian(header, static_cast<std::uint32_t>(samples.cols));
  putBigEndian(header, static_cast<std::uint32_t>(samples.rows));
  header.insert(header.end(), {static_cast<std::uint8_t>(depth), 0, 0, 0, 0});
  appendChunk(png, "IHDR", header);
  const Bytes stream = zlibOf(raw);
  for (std::size_t i = 0; i < stream.size(); i += idat_size) {
    appendChunk(png, "IDAT",
                Bytes(stream.begin() + static_cast<long>(i),
                      stream.begin() + static_cast<long>(std::min(stream.size(), i + idat_size))));
  }
  appendChunk(png, "IEND", {});
  return png;
}

cv::Mat randomSamples(int rows, int cols, int depth, std::mt19937& rng) {
  cv::Mat samples(rows, cols, CV_8UC1);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      samples.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>(rng() % (1U << depth));
    }
  }
  return samples;
}

cv::Mat imageLibraryGray(const Bytes& png) {
  return cv::imdecode(png, cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION);
}

// Deflate bits, least significant first; Huffman codes from their top bit.
struct BitWriter {
  Bytes bytes;
  int used = 8;
  void bit(int b) {
    if (used == 8) {
      bytes.push_back(0);
      used = 0;
    }
    bytes.back() = static_cast<std::uint8_t>(bytes.back() | (b << used++));
  }
  void field(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      bit(static_cast<int>((v >> i) & 1U));
    }
  }
  void code(std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      bit(static_cast<int>((v >> i) & 1U));
    }
  }
};

// One fixed-code block: literal 0 twice, then litlen symbol 286 with distance 1 (which
// libdeflate reads as length 258 and zlib refuses), end of block: 260 bytes of zeros.
Bytes pngWithLengthSymbol286() {
  BitWriter w;
  w.field(1, 1);
  w.field(1, 2);
  w.code(0x30, 8);
  w.code(0x30, 8);
  w.code(0xC0 + 6, 8);
  w.code(0, 5);
  w.code(0, 7);
  Bytes stream = {0x78, 0x01};
  stream.insert(stream.end(), w.bytes.begin(), w.bytes.end());
  const Bytes zeros(260, 0);
  putBigEndian(stream, libdeflate_adler32(1, zeros.data(), zeros.size()));
  Bytes png = grayPng(cv::Mat::zeros(1, 259, CV_8UC1), 8, {0});
  const Bytes iend(png.end() - 12, png.end());
  png.resize(33);  // signature and IHDR
  appendChunk(png, "IDAT", stream);
  png.insert(png.end(), iend.begin(), iend.end());
  return png;
}

}  // namespace

TEST(GrayPng, EqualsTheImageLibraryForEveryDepthFilterAndChunking) {
  std::mt19937 rng(15);
  for (const int depth : {1, 2, 4, 8}) {
    for (const int filter : {0, 1, 2, 3, 4}) {
      const cv::Mat samples = randomSamples(9, 37, depth, rng);
      for (const std::size_t idat_size : {std::size_t{1} << 20, std::size_t{7}}) {
        const Bytes png = grayPng(samples, depth, {filter, (filter + 3) % 5}, idat_size);
        const std::optional<cv::Mat> ours = ymp::decodeGrayPng(png.data(), png.size());
        ASSERT_TRUE(ours.has_value()) << depth << " bits, filter " << filter;
        EXPECT_TRUE(samePixels(*ours, imageLibraryGray(png)))
            << depth << " bits, filter " << filter;
      }
    }
  }
  // What the image library's own encoder writes, and bytes after IEND, which nobody reads.
  std::vector<std::uint8_t> encoded;
  cv::imencode(".png", pattern(720, 1280), encoded);
  encoded.insert(encoded.end(), {'j', 'u', 'n', 'k'});
  const std::optional<cv::Mat> ours = ymp::decodeGrayPng(encoded.data(), encoded.size());
  ASSERT_TRUE(ours.has_value());
  EXPECT_TRUE(samePixels(*ours, pattern(720, 1280)));
}

TEST(GrayPng, LeavesToTheImageLibraryWhatItRefuses) {
  const Bytes good = grayPng(pattern(6, 11), 8, {1, 4});
  const std::size_t idat_crc = good.size() - 12 - 4;  // the IDAT is followed by IEND alone
  std::vector<std::pair<const char*, Bytes>> broken;
  auto flip = [&](const char* what, std::size_t at) {
    Bytes bytes = good;
    bytes[at] ^= 0x01;
    broken.emplace_back(what, bytes);
  };
  flip("IDAT check sum", idat_crc);
  flip("IEND check sum", good.size() - 1);
  flip("IHDR check sum", 29);
  broken.emplace_back("no IEND", Bytes(good.begin(), good.end() - 12));
  broken.emplace_back("cut in the image data", Bytes(good.begin(), good.begin() + 50));
  broken.emplace_back("filter type 5", grayPng(pattern(6, 11), 8, {1, 5}));
  broken.emplace_back("litlen symbol 286, which libdeflate accepts", pngWithLengthSymbol286());
  for (const auto& [what, bytes] : broken) {
    EXPECT_FALSE(ymp::decodeGrayPng(bytes.data(), bytes.size()).has_value()) << what;
    EXPECT_EQ(messageOf(base64Of(bytes), "m"), "m PNG decode failed") << what;
  }
  // Whether the image library takes a wrong Adler-32 depends on where its row reads end; the
  // fast path declines it and leaves the verdict to the library.
  Bytes adler = good;
  adler[idat_crc - 1] ^= 0x01;
  const std::size_t idat_type = 37;  // after the signature and IHDR
  const std::uint32_t crc = libdeflate_crc32(0, &adler[idat_type], idat_crc - idat_type);
  for (std::size_t i = 0; i < 4; ++i) {
    adler[idat_crc + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  EXPECT_FALSE(ymp::decodeGrayPng(adler.data(), adler.size()).has_value());
}

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

TEST(MaskCodec, RefusesMasksBeyondTheCallersLimitsFromTheHeader) {
  ymp::MaskLimits limits;
  limits.frame = cv::Size(640, 480);
  const auto refusal = [&](const std::vector<std::uint8_t>& bytes) {
    return vantorel_test::runtimeErrorText(
        [&] { ymp::decodeMaskBase64(base64Of(bytes), "masks_base64[2]", limits); });
  };
  EXPECT_EQ(refusal(pngDeclaring(8192, 8192)),
            "masks_base64[2] is 8192x8192 pixels, larger than the 640x480 frame");
  EXPECT_EQ(refusal(pngDeclaring(641, 1)),
            "masks_base64[2] is 641x1 pixels, larger than the 640x480 frame");
  std::vector<std::uint8_t> jpeg;  // a frame header's sizes are height first
  ASSERT_TRUE(cv::imencode(".jpg", cv::Mat::zeros(600, 8, CV_8UC1), jpeg));
  EXPECT_EQ(refusal(jpeg), "masks_base64[2] is 8x600 pixels, larger than the 640x480 frame");

  std::vector<std::uint8_t> png;
  cv::imencode(".png", pattern(10, 10), png);
  limits.pixels_left = 99;
  EXPECT_EQ(refusal(png),
            "masks_base64[2] is 10x10 pixels, more than the 99 left of this call's mask budget");
  limits.pixels_left = 100;
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(base64Of(png), "m", limits), pattern(10, 10)));
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

namespace {

// An EXIF block (big-endian TIFF header, one IFD) whose only entry is the orientation tag.
Bytes exifOrientation(std::uint8_t orientation) {
  return {'M',  'M',  0, 42, 0, 0, 0, 8,                        // header, IFD at offset 8
          0,    1,                                              // one entry
          0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, orientation, 0, 0,  // 0x0112, SHORT, 1 value
          0,    0,    0, 0};                                    // no next IFD
}

// `png` with an eXIf chunk right after IHDR, where the PNG extensions put it.
Bytes withExifChunk(const Bytes& png, std::uint8_t orientation) {
  static constexpr std::size_t kIhdrEnd = 33;
  Bytes tagged(png.begin(), png.begin() + kIhdrEnd);
  appendChunk(tagged, "eXIf", exifOrientation(orientation));
  tagged.insert(tagged.end(), png.begin() + kIhdrEnd, png.end());
  return tagged;
}

// `jpeg` with an APP1 Exif segment right after its start-of-image marker.
Bytes withExifSegment(const Bytes& jpeg, std::uint8_t orientation) {
  Bytes segment = {'E', 'x', 'i', 'f', 0, 0};
  const Bytes exif = exifOrientation(orientation);
  segment.insert(segment.end(), exif.begin(), exif.end());
  const auto length = static_cast<std::uint16_t>(segment.size() + 2);
  Bytes tagged = {0xFF,
                  0xD8,
                  0xFF,
                  0xE1,
                  static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length)};
  tagged.insert(tagged.end(), segment.begin(), segment.end());
  tagged.insert(tagged.end(), jpeg.begin() + 2, jpeg.end());
  return tagged;
}

}  // namespace

// A mask's pixels are where the detector put them: orientation metadata (6: turn 90 degrees)
// would rotate the mask after its size was checked against the frame and its box.
TEST(MaskCodec, DecodesMasksAsStoredWhateverTheirOrientationTag) {
  const cv::Mat mask = pattern(8, 16);
  const Bytes png = withExifChunk(grayPng(mask, 8, {0}), 6);
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(base64Of(png), "m"), mask));
  Bytes jpeg;
  ASSERT_TRUE(cv::imencode(".jpg", mask, jpeg));
  const cv::Mat stored = cv::imdecode(jpeg, cv::IMREAD_GRAYSCALE);
  EXPECT_TRUE(samePixels(ymp::decodeMaskBase64(base64Of(withExifSegment(jpeg, 6)), "m"), stored));
}
