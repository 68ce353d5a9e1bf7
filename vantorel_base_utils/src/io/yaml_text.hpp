// SPDX-License-Identifier: Apache-2.0
// YAML text parsed into a node tree within the loading bounds of yaml_utils.hpp, for readers
// that read and report on their files themselves.
#ifndef VANTOREL_BASE_UTILS__IO__YAML_TEXT_HPP_
#define VANTOREL_BASE_UTILS__IO__YAML_TEXT_HPP_

#include <string>

#include <yaml-cpp/yaml.h>

namespace vantorel_base_utils {

// The first document of `text`. Throws YAML::ParserException for text that is not YAML and,
// with a null mark, for a document of more than kYamlMaxParsedNodes nodes, before its tree
// is built.
YAML::Node parseYamlText(std::string& text);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__YAML_TEXT_HPP_
