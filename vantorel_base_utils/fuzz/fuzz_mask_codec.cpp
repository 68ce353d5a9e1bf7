// SPDX-License-Identifier: Apache-2.0
// The mask codec on arbitrary bytes, read both as Base64 text and as image bytes. Every
// mask that decodes must survive an encode and decode round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "detection/mask_codec.hpp"
#include "fuzz_support.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

bool inAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// k alphabet characters before the first '=' carry exactly floor(6k / 8) bytes.
void checkBase64Length(const std::string& text) {
  std::size_t alphabet_chars = 0;
  for (const char c : text) {
    if (c == '=') {
      break;
    }
    alphabet_chars += inAlphabet(c) ? 1 : 0;
  }
  VANTOREL_FUZZ_CHECK(ymp::decodeBase64(text).size() == alphabet_chars * 6 / 8);
}

void checkBytesRoundTrip(const std::uint8_t* data, std::size_t size) {
  const std::string text = ymp::encodeBase64(data, size);
  VANTOREL_FUZZ_CHECK(text.size() % 4 == 0);
  VANTOREL_FUZZ_CHECK(ymp::decodeBase64(text) == std::vector<std::uint8_t>(data, data + size));
}

void checkMaskRoundTrip(const std::string& text) {
  cv::Mat mask;
  try {
    mask = ymp::decodeMaskBase64(text, "mask");
  } catch (const std::runtime_error&) {
    return;
  }
  VANTOREL_FUZZ_CHECK(!mask.empty() && mask.type() == CV_8UC1);
  const cv::Mat again = ymp::decodeMaskBase64(ymp::encodeMaskBase64(mask), "again");
  VANTOREL_FUZZ_CHECK(again.size() == mask.size() && again.type() == CV_8UC1);
  VANTOREL_FUZZ_CHECK(cv::countNonZero(again != mask) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkBase64Length(text);
  checkBytesRoundTrip(data, size);
  checkMaskRoundTrip(text);
  checkMaskRoundTrip(ymp::encodeBase64(data, size));
  return 0;
}
