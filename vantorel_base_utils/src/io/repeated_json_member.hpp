// SPDX-License-Identifier: Apache-2.0
// The first member name that JSON text gives twice within one object; internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__REPEATED_JSON_MEMBER_HPP_
#define VANTOREL_BASE_UTILS__IO__REPEATED_JSON_MEMBER_HPP_

#include <optional>
#include <string>

namespace vantorel_base_utils {

// The path of the first member, in text order, whose name its object already has: "cls_list",
// "masks_base64.3", "instance_masks[0].width". Nothing when no object repeats a name, and
// nothing for text that is not one JSON value, which its parser then refuses with its own
// error. The JSON library keeps the last of the two without a word.
std::optional<std::string> firstRepeatedJsonMember(const std::string& text);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__REPEATED_JSON_MEMBER_HPP_
