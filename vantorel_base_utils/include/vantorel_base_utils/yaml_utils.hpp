// SPDX-License-Identifier: Apache-2.0
// YAML files read into yaml-cpp nodes and converted to JSON documents.
#ifndef VANTOREL_BASE_UTILS__YAML_UTILS_HPP_
#define VANTOREL_BASE_UTILS__YAML_UTILS_HPP_

#include <cstddef>
#include <string>

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>
#include <rclcpp/logger.hpp>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Bounds of one conversion. Aliases make yaml-cpp share nodes, so a few hundred bytes of
// YAML can stand for billions of nodes once expanded; these limits stop such documents
// with an InputError (kOverLimit) long before memory runs out.
constexpr std::size_t kYamlMaxConvertedNodes = 1'000'000;
constexpr std::size_t kYamlMaxConvertedBytes = std::size_t{64} << 20;  // scalar and key text
constexpr std::size_t kYamlMaxDepth = 1000;

// Bounds of loading a file, checked before yaml-cpp builds its node tree (several hundred
// bytes per node): its size, and the nodes of its first document, keys included.
constexpr std::size_t kYamlMaxFileBytes = std::size_t{16} << 20;
constexpr std::size_t kYamlMaxParsedNodes = 1'000'000;

// Loads the first document of the file. Load failures are logged at ERROR and rethrown
// unchanged; a null root is logged at WARN and returned. A path that is no regular file
// fails as a missing one does (YAML::BadFile; pipes are never waited on); a file beyond the
// loading bounds above fails with YAML::ParserException before its tree is built.
VANTOREL_BASE_UTILS_PUBLIC YAML::Node readYaml(const std::string& file_path,
                                               const rclcpp::Logger& logger);

// Scalars become integers, floats, booleans or strings, tried in that order. Throws
// std::runtime_error naming the node path ($.key[index]) on failure; a document beyond the
// conversion bounds above throws InputError kOverLimit (input_error.hpp), also naming it.
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json yamlNodeToJson(const YAML::Node& node);

// readYaml followed by the conversion; errors inside the elements of a top-level
// "pose_info" sequence name the element's index and the file.
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json readYamlToJson(const std::string& file_path,
                                                         const rclcpp::Logger& logger);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__YAML_UTILS_HPP_
