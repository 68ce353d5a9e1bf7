// SPDX-License-Identifier: Apache-2.0
// PNG files whose header claims a size of the test's choosing, for image readers' failure paths.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__PNG_CLAIMING_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__PNG_CLAIMING_HPP_

#include <cstdint>
#include <string>

namespace vantorel_test {

inline std::uint32_t crc32Of(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  return ~crc;
}

inline std::string bigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// A PNG file with correct checksums whose header claims `width` x `height` 16-bit gray
// pixels, followed by `rest` (the chunks after the header) unchanged.
inline std::string pngClaiming(std::uint32_t width, std::uint32_t height, const std::string& rest) {
  const std::string header =
      "IHDR" + bigEndian(width) + bigEndian(height) + "\x10" + std::string(4, '\0');
  return std::string("\x89PNG\r\n\x1a\n", 8) + bigEndian(13) + header + bigEndian(crc32Of(header)) +
         rest;
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__PNG_CLAIMING_HPP_
