// SPDX-License-Identifier: Apache-2.0
// Class ids and their decimal text, the keys of masks_base64 and of the instance pixel map;
// internal to the library, which keeps ids as numbers and meets the text only at its edges.
#ifndef VANTOREL_BASE_UTILS__DETECTION__CLASS_ID_TEXT_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__CLASS_ID_TEXT_HPP_

#include <charconv>
#include <optional>
#include <string>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

// The id whose text, as std::to_string writes it, is `key`; nothing for any other text
// ("07", "+7", " 7", "7.0", ids beyond int), which no detection's class can name.
inline std::optional<int> classIdOfText(const std::string& key) {
  int id = 0;
  const char* end = key.data() + key.size();
  if (key.empty() || std::from_chars(key.data(), end, id).ptr != end || std::to_string(id) != key) {
    return std::nullopt;
  }
  return id;
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__CLASS_ID_TEXT_HPP_
