// SPDX-License-Identifier: Apache-2.0
// What makes YAML text say more than its first document's node tree shows; internal to the
// library.
#ifndef VANTOREL_BASE_UTILS__IO__YAML_AMBIGUITY_HPP_
#define VANTOREL_BASE_UTILS__IO__YAML_AMBIGUITY_HPP_

#include <optional>
#include <string>

namespace vantorel_base_utils {

// yaml-cpp loads the first document only, and its node tree answers a look-up by key with the
// first of two equal keys. For readers that take one value per member, this says what either
// would silently drop, first in text order: "camera_matrix is given twice (lines 4 and 9)",
// "roi.width is given twice (...)", or "a second YAML document begins at line 12". Keys are
// compared as written, scalar keys only. A later document that is empty or null (the "---"
// that ends what ros2 topic echo --once prints) says nothing. Nothing when the text is
// unambiguous; throws YAML::ParserException for text that is not YAML. Builds no node tree.
std::optional<std::string> yamlAmbiguity(std::string& text);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__YAML_AMBIGUITY_HPP_
