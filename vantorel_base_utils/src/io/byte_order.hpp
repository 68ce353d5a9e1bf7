// SPDX-License-Identifier: Apache-2.0
// Numbers stored big-endian, as PNG, JPEG and PGM headers store them; internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__BYTE_ORDER_HPP_
#define VANTOREL_BASE_UTILS__IO__BYTE_ORDER_HPP_

#include <cstdint>

namespace vantorel_base_utils {

inline std::uint32_t bigEndian16(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 8) | std::uint32_t{p[1]};
}

inline std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__BYTE_ORDER_HPP_
