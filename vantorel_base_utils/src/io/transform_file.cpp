// SPDX-License-Identifier: Apache-2.0
// Transform files: the library's transform document, or a transform message as ROS prints it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>

#include "io/repeated_json_member.hpp"
#include "io/yaml_ambiguity.hpp"
#include "io/yaml_text.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/regular_file.hpp"
#include "vantorel_base_utils/transforms.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace vantorel_base_utils {

using nlohmann::json;

namespace {

InputError malformed(const std::string& path, const std::string& message) {
  return InputError(InputError::Reason::kMalformed, path, message);
}

// What is wrong with a JSON text, in words for whoever wrote the file rather than in the JSON
// library's own.
std::string jsonProblem(const json::exception& e) {
  if (const auto* parse = dynamic_cast<const json::parse_error*>(&e)) {
    return "not valid JSON (at byte " + std::to_string(parse->byte) + ")";
  }
  return "a member is missing or has the wrong type";
}

// toEigenTransform reads any extra entries past the first three or four as unused; in a file
// they are a mistake.
void checkTransformShape(const json& doc, const std::string& path) {
  const auto numbers = [&](const char* key, std::size_t count) {
    const auto member = doc.is_object() ? doc.find(key) : doc.end();
    const bool fits =
        member != doc.end() && member->is_array() && member->size() == count &&
        std::all_of(member->begin(), member->end(), [](const json& v) { return v.is_number(); });
    if (!fits) {
      throw malformed(
          path, path + ": \"" + key + "\" must hold exactly " + std::to_string(count) + " numbers");
    }
  };
  numbers("translation", 3);
  numbers("rotation", 4);
}

// Text that is not JSON is read as YAML, the form ros2 topic echo prints.
json parseTransformText(std::string& text, const std::string& path) {
  std::string json_problem;
  try {
    json doc = json::parse(text);
    if (const std::optional<std::string> repeated = firstRepeatedJsonMember(text)) {
      throw malformed(path, path + ": \"" + *repeated +
                                "\" is given twice: a transform file gives each member once");
    }
    return doc;
  } catch (const json::exception& e) {
    json_problem = jsonProblem(e);
  }
  if (text.size() > kMaxYamlTransformFileBytes) {
    throw malformed(path, path + ": not a transform document: " + json_problem + ", and " +
                              std::to_string(text.size()) + " bytes is too long for one in YAML");
  }
  YAML::Node node;
  try {
    node = parseYamlText(text);
    if (const std::optional<std::string> ambiguity = yamlAmbiguity(text)) {
      throw malformed(path, path + ": " + *ambiguity +
                                ": a transform file gives one transform, each member once");
    }
  } catch (const YAML::Exception& e) {
    if (e.mark.is_null()) {  // one of the YAML reader's own bounds
      throw InputError(InputError::Reason::kOverLimit, path, path + ": " + e.msg);
    }
    throw malformed(path, path + ": not a transform document: " + json_problem +
                              ", nor valid YAML (at line " + std::to_string(e.mark.line + 1) + ")");
  }
  try {
    return yamlNodeToJson(node);
  } catch (const std::runtime_error& e) {
    throw malformed(path, path + ": " + e.what());
  }
}

template <std::size_t N>
using Names = std::array<const char*, N>;

// Refuses any member of `object` that is not one of `names`. `where` is the object's member
// path with a trailing dot, empty at the top.
template <std::size_t N>
void requireOnly(const json& object, const Names<N>& names, const std::string& where,
                 const std::string& path) {
  for (const auto& member : object.items()) {
    if (std::none_of(names.begin(), names.end(),
                     [&](const char* name) { return member.key() == name; })) {
      throw malformed(path, path + ": unknown member \"" + where + member.key() + "\"");
    }
  }
}

const json& requireMember(const json& object, const char* name, const std::string& where,
                          const std::string& path) {
  const auto member = object.find(name);
  if (member == object.end()) {
    throw malformed(path, path + ": member \"" + where + name + "\" is missing");
  }
  return *member;
}

// The numbers of the mapping `parent[key]`, which holds exactly `names`, in their order.
template <std::size_t N>
std::array<double, N> namedNumbers(const json& parent, const char* key, const Names<N>& names,
                                   const std::string& where, const std::string& path) {
  const json& object = requireMember(parent, key, where, path);
  const std::string inner = where + key + ".";
  if (!object.is_object()) {
    std::string listed;
    for (const char* name : names) {
      listed += (listed.empty() ? "" : ", ") + std::string(name);
    }
    throw malformed(path, path + ": \"" + where + key + "\" must be a mapping of " + listed);
  }
  requireOnly(object, names, inner, path);
  std::array<double, N> numbers{};
  for (std::size_t i = 0; i < N; ++i) {
    const json& value = requireMember(object, names[i], inner, path);
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
      throw malformed(path, path + ": \"" + inner + names[i] + "\" must be a finite number");
    }
    numbers[i] = value.get<double>();
  }
  return numbers;
}

geometry_msgs::msg::Transform namedTransform(const json& doc, const std::string& where,
                                             const std::string& path) {
  requireOnly(doc, Names<2>{"translation", "rotation"}, where, path);
  const auto t = namedNumbers(doc, "translation", Names<3>{"x", "y", "z"}, where, path);
  const auto q = namedNumbers(doc, "rotation", Names<4>{"x", "y", "z", "w"}, where, path);
  geometry_msgs::msg::Transform transform;
  transform.translation.x = t[0];
  transform.translation.y = t[1];
  transform.translation.z = t[2];
  transform.rotation.x = q[0];
  transform.rotation.y = q[1];
  transform.rotation.z = q[2];
  transform.rotation.w = q[3];
  return transform;
}

// A Transform, or a TransformStamped whose header and child frame are left unread.
geometry_msgs::msg::Transform namedTransformOrStamped(const json& doc, const std::string& path) {
  if (!doc.is_object()) {
    throw malformed(path, path + ": not a transform document: expected translation and rotation");
  }
  if (!doc.contains("transform")) {
    return namedTransform(doc, "", path);
  }
  requireOnly(doc, Names<3>{"header", "child_frame_id", "transform"}, "", path);
  const json& transform = doc["transform"];
  if (!transform.is_object()) {
    throw malformed(path, path + ": \"transform\" must be a mapping of translation, rotation");
  }
  return namedTransform(transform, "transform.", path);
}

}  // namespace

geometry_msgs::msg::Transform readTransformFile(const std::string& path) {
  std::string text;
  try {
    text = readRegularFile(path, kMaxTransformFileBytes);
  } catch (const FileReadError& e) {
    throw InputError(InputError::Reason::kUnreadable, path, path + ": " + e.what());
  }
  const json doc = parseTransformText(text, path);
  const bool document_form =
      doc.is_object() && doc.contains("translation") && doc["translation"].is_array();
  if (!document_form) {
    return namedTransformOrStamped(doc, path);
  }
  checkTransformShape(doc, path);
  toEigenTransform(doc);  // refuses what the document form cannot hold, in its own words
  const json& t = doc["translation"];
  const json& q = doc["rotation"];
  geometry_msgs::msg::Transform transform;
  transform.translation.x = t[0].get<double>();
  transform.translation.y = t[1].get<double>();
  transform.translation.z = t[2].get<double>();
  transform.rotation.w = q[0].get<double>();
  transform.rotation.x = q[1].get<double>();
  transform.rotation.y = q[2].get<double>();
  transform.rotation.z = q[3].get<double>();
  return transform;
}

}  // namespace vantorel_base_utils
