// SPDX-License-Identifier: Apache-2.0
// Numbers written into messages; internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__NUMBER_TEXT_HPP_
#define VANTOREL_BASE_UTILS__IO__NUMBER_TEXT_HPP_

#include <charconv>
#include <cmath>
#include <string>

namespace vantorel_base_utils {

// The shortest text that reads back as the same double ("1e-320", "0.5", "-480", "inf",
// "nan"), so that a message shows the value a user wrote.
inline std::string numberText(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  char text[32];
  const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
  return std::string(text, end);
}

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__NUMBER_TEXT_HPP_
