// SPDX-License-Identifier: Apache-2.0
// JSON documents to and from files. Failures are logged through the caller's logger and
// never thrown.
#ifndef VANTOREL_BASE_UTILS__JSON_UTILS_HPP_
#define VANTOREL_BASE_UTILS__JSON_UTILS_HPP_

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>
#include <rclcpp/logger.hpp>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Deepest nesting of arrays and objects that the two functions below accept ("[[1]]" is 2
// levels). The JSON library copies, compares and serialises documents recursively, so much
// deeper ones can exhaust a thread's stack.
constexpr std::size_t kJsonMaxDepth = 1000;

// Writes `j` to `file_path` (missing parent directories are created) with `indent` spaces
// per level, or on one line when `indent` is negative; UTF-8 as is, no trailing newline.
// The file is replaced atomically, keeping its owner and permissions: on any failure the
// previous file stays untouched and an ERROR is logged. Only where a replacement cannot keep
// the owner (a file of another user that the caller may write to) or cannot be created (a
// directory the caller may not write to) is the file rewritten in place, as a plain write
// would, and a failed write there can leave it incomplete.
//
// A path that is a symbolic link is written through, to the file the link names, which is
// created if the link dangles. Devices and pipes are written in place; a pipe that nobody
// reads is refused at once. A document nested deeper than kJsonMaxDepth is refused.
VANTOREL_BASE_UTILS_PUBLIC void saveJson(const nlohmann::json& j, const std::string& file_path,
                                         int indent, const rclcpp::Logger& logger);

// saveJson, telling whether the file now holds the document: false exactly when an ERROR
// was logged.
VANTOREL_BASE_UTILS_PUBLIC bool trySaveJson(const nlohmann::json& j, const std::string& file_path,
                                            int indent, const rclcpp::Logger& logger);

// Reads one JSON value from `file_path`; anything after it is ignored. Returns an empty
// object (and logs an ERROR) when the file cannot be opened or parsed, is no regular file
// (pipes are refused, never waited on), or holds a value nested deeper than kJsonMaxDepth,
// which is refused before any of it is built.
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json readJson(const std::string& file_path,
                                                   const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__JSON_UTILS_HPP_
