// SPDX-License-Identifier: Apache-2.0
#include "printable_text.hpp"

#include <cstdio>

namespace vantorel_tools {

namespace {

void appendHex(std::string& out, unsigned char byte) {
  char code[5];
  std::snprintf(code, sizeof(code), "\\x%02x", byte);
  out += code;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0U;
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      appendHex(out, byte);
    } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {  // a C1 control in UTF-8
      appendHex(out, byte);
      appendHex(out, next);
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

}  // namespace vantorel_tools
