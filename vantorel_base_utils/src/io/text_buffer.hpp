// SPDX-License-Identifier: Apache-2.0
// A read-only stream over text already in memory, for readers that take a std::istream.
#ifndef VANTOREL_BASE_UTILS__IO__TEXT_BUFFER_HPP_
#define VANTOREL_BASE_UTILS__IO__TEXT_BUFFER_HPP_

#include <streambuf>
#include <string>

namespace vantorel_base_utils {

// Reads `text` in place, without copying it.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string& text) {
    setg(text.data(), text.data(), text.data() + text.size());
  }
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__TEXT_BUFFER_HPP_
