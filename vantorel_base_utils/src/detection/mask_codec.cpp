// SPDX-License-Identifier: Apache-2.0
// Base64 text and PNG image codec of detection masks.
#include "detection/mask_codec.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "detection/png_fast_path/png_gray_decode.hpp"
#include "io/byte_order.hpp"
#include "io/silent_png.hpp"
#include "vantorel_base_utils/input_error.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int8_t kNotInAlphabet = -1;

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& entry : table) {
    entry = kNotInAlphabet;
  }
  for (int value = 0; value < 64; ++value) {
    table[static_cast<unsigned char>(kAlphabet[value])] = static_cast<std::int8_t>(value);
  }
  return table;
}

constexpr std::array<std::int8_t, 256> kDecodeTable = makeDecodeTable();

std::uint64_t readLittleEndian32(const std::uint8_t* p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) |
         (std::uint64_t{p[3]} << 24);
}

bool startsWith(const std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> head) {
  return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

// Width and height from the IHDR chunk, which must come first.
std::optional<DeclaredSize> pngSize(const std::vector<std::uint8_t>& bytes) {
  static constexpr std::size_t kIhdrEnd = 24;  // signature, chunk length and type, size
  const std::uint8_t* ihdr = bytes.data() + 8;
  if (bytes.size() < kIhdrEnd || ihdr[4] != 'I' || ihdr[5] != 'H' || ihdr[6] != 'D' ||
      ihdr[7] != 'R') {
    return std::nullopt;
  }
  return DeclaredSize{bigEndian32(ihdr + 8), bigEndian32(ihdr + 12)};
}

// Size fields of the DIB header; negative heights mark top-down rows.
std::optional<DeclaredSize> bmpSize(const std::vector<std::uint8_t>& bytes) {
  static constexpr std::size_t kCoreHeaderEnd = 26;
  if (bytes.size() < kCoreHeaderEnd) {
    return std::nullopt;
  }
  if (readLittleEndian32(bytes.data() + 14) == 12) {  // OS/2 core header: 16-bit sizes
    return DeclaredSize{std::uint64_t{bytes[18]} | std::uint64_t{bytes[19]} << 8,
                        std::uint64_t{bytes[20]} | std::uint64_t{bytes[21]} << 8};
  }
  const auto width = static_cast<std::int32_t>(readLittleEndian32(bytes.data() + 18));
  const auto height = static_cast<std::int32_t>(readLittleEndian32(bytes.data() + 22));
  const auto magnitude = [](std::int32_t v) { return v < 0 ? 0 - std::int64_t{v} : v; };
  return DeclaredSize{static_cast<std::uint64_t>(magnitude(width)),
                      static_cast<std::uint64_t>(magnitude(height))};
}

// Walks the marker segments up to the first start-of-frame, which carries the size.
std::optional<DeclaredSize> jpegSize(const std::vector<std::uint8_t>& bytes) {
  std::size_t pos = 2;
  while (pos + 4 <= bytes.size()) {
    if (bytes[pos] != 0xFF) {
      return std::nullopt;
    }
    const std::uint8_t marker = bytes[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    const bool frame_header =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame_header) {
      if (pos + 9 > bytes.size()) {
        return std::nullopt;
      }
      // Height comes before width in a frame header.
      return DeclaredSize{bigEndian16(&bytes[pos + 7]), bigEndian16(&bytes[pos + 5])};
    }
    if (marker == 0xD9 || marker == 0xDA) {  // end of image or scan data before any frame
      return std::nullopt;
    }
    const bool standalone = marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
    pos += standalone ? 2 : 2 + bigEndian16(&bytes[pos + 2]);
  }
  return std::nullopt;
}

}  // namespace

std::optional<DeclaredSize> declaredImageSize(const std::vector<std::uint8_t>& bytes) {
  if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) {
    return pngSize(bytes);
  }
  if (startsWith(bytes, {0xFF, 0xD8, 0xFF})) {
    return jpegSize(bytes);
  }
  if (startsWith(bytes, {'B', 'M'})) {
    return bmpSize(bytes);
  }
  return std::nullopt;
}

namespace {

cv::Mat decodeImage(const std::vector<std::uint8_t>& bytes) {
  if (std::optional<cv::Mat> png = decodeGrayPng(bytes.data(), bytes.size())) {
    return *std::move(png);
  }
  // What libpng refuses, OpenCV's decoder refuses too, after letting libpng print why.
  if (silent_png::isPng(bytes.data(), bytes.size()) &&
      !silent_png::readsWithoutError(bytes.data(), bytes.size())) {
    return cv::Mat();
  }
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return cv::Mat();  // the decoder's buffer view counts bytes in int
  }
  try {
    // Masks are taken as stored: an orientation tag (a PNG eXIf chunk, a JPEG APP1 segment)
    // would turn the mask after its size was checked against the frame and its box, and
    // move every pixel. The fast path above never applies one either.
    return cv::imdecode(cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1,
                                const_cast<std::uint8_t*>(bytes.data())),
                        cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION);
  } catch (const cv::Exception&) {
    return cv::Mat();  // corrupt data the decoder refuses by throwing
  }
}

}  // namespace

std::vector<std::uint8_t> decodeBase64(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t accumulator = 0;
  int pending_bits = 0;
  for (const char c : text) {
    if (c == '=') {
      break;
    }
    const std::int8_t value = kDecodeTable[static_cast<unsigned char>(c)];
    if (value == kNotInAlphabet) {
      continue;
    }
    accumulator = ((accumulator << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFFU;
    pending_bits += 6;
    if (pending_bits >= 8) {
      pending_bits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(accumulator >> pending_bits));
    }
  }
  return bytes;
}

std::string encodeBase64(const std::uint8_t* data, std::size_t size) {
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const std::uint32_t group = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) |
                                std::uint32_t{data[i + 2]};
    text.push_back(kAlphabet[(group >> 18) & 63U]);
    text.push_back(kAlphabet[(group >> 12) & 63U]);
    text.push_back(kAlphabet[(group >> 6) & 63U]);
    text.push_back(kAlphabet[group & 63U]);
  }
  const std::size_t rest = size - i;
  if (rest > 0) {
    std::uint32_t group = std::uint32_t{data[i]} << 16;
    if (rest == 2) {
      group |= std::uint32_t{data[i + 1]} << 8;
    }
    text.push_back(kAlphabet[(group >> 18) & 63U]);
    text.push_back(kAlphabet[(group >> 12) & 63U]);
    text.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63U] : '=');
    text.push_back('=');
  }
  return text;
}

namespace {

std::string sizeText(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Refusals by the caller's limits, before anything is allocated for the image.
void checkLimits(const DeclaredSize& size, const std::string& label, const MaskLimits& limits) {
  const bool frame_known = limits.frame.width > 0 && limits.frame.height > 0;
  const auto frame_width = static_cast<std::uint64_t>(limits.frame.width);
  const auto frame_height = static_cast<std::uint64_t>(limits.frame.height);
  const std::string frame_text = sizeText(frame_width, frame_height);
  if (frame_known && limits.whole_frame &&
      (size.width != frame_width || size.height != frame_height)) {
    throw InputError(InputError::Reason::kSizeMismatch, label,
                     label + " is " + sizeText(size.width, size.height) + " pixels, not the " +
                         frame_text + " of the frame it covers");
  }
  if (frame_known && (size.width > frame_width || size.height > frame_height)) {
    throw InputError(InputError::Reason::kSizeMismatch, label,
                     label + " is " + sizeText(size.width, size.height) +
                         " pixels, larger than the " + frame_text + " frame");
  }
  if (size.width * size.height > limits.pixels_left) {
    throw InputError(InputError::Reason::kOverLimit, label,
                     label + " is " + sizeText(size.width, size.height) +
                         " pixels, more than the " + std::to_string(limits.pixels_left) +
                         " left of this call's mask budget");
  }
}

}  // namespace

cv::Mat decodeMaskBase64(const std::string& text, const std::string& label,
                         const MaskLimits& limits) {
  const std::vector<std::uint8_t> bytes = decodeBase64(text);
  if (bytes.empty()) {
    throw std::runtime_error(label + " is empty or invalid Base64");
  }
  const std::optional<DeclaredSize> size = declaredImageSize(bytes);
  // Sides beyond 2^32 cannot be declared, so the product cannot wrap.
  if (!size || size->width * size->height > kMaxMaskPixels) {
    throw std::runtime_error(label + " PNG decode failed");
  }
  checkLimits(*size, label, limits);
  cv::Mat image = decodeImage(bytes);
  if (image.empty()) {
    throw std::runtime_error(label + " PNG decode failed");
  }
  return image;
}

cv::Mat decodeMaskBase64(const std::string& text, const std::string& label) {
  return decodeMaskBase64(text, label, MaskLimits{});
}

std::string encodeMaskBase64(const cv::Mat& mask) {
  std::vector<std::uint8_t> png;
  bool encoded = false;
  try {
    encoded = cv::imencode(".png", mask, png);
  } catch (const cv::Exception&) {
    encoded = false;
  }
  if (!encoded) {
    throw std::runtime_error("failed to encode instance ROI mask");
  }
  return encodeBase64(png.data(), png.size());
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
