// SPDX-License-Identifier: Apache-2.0
#include "transform_file.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "input_file.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;
using nlohmann::json;

namespace {

// The library reads any extra entries past the first three or four as unused; here they
// are a mistake in the file.
void checkTransformShape(const json& doc, const std::string& path) {
  const auto numbers = [&](const char* key, std::size_t count) {
    const auto member = doc.is_object() ? doc.find(key) : doc.end();
    const bool fits =
        member != doc.end() && member->is_array() && member->size() == count &&
        std::all_of(member->begin(), member->end(), [](const json& v) { return v.is_number(); });
    if (!fits) {
      throw InputError(path + ": \"" + key + "\" must hold exactly " + std::to_string(count) +
                       " numbers");
    }
  };
  numbers("translation", 3);
  numbers("rotation", 4);
}

}  // namespace

Eigen::Matrix4d readTransformFile(const std::string& path) {
  const std::string text = readInputFile(path, kMaxTransformFileBytes);
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw InputError(path + ": not a transform document: " + jsonProblem(e));
  }
  checkTransformShape(doc, path);
  return vbu::toEigenTransform(doc);
}

}  // namespace vantorel_tools
