// SPDX-License-Identifier: Apache-2.0
#include "transform_file.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include <yaml-cpp/yaml.h>
#include <geometry_msgs/msg/transform.hpp>
#include <nlohmann/json.hpp>

#include "input_file.hpp"
#include "vantorel_base_utils/transforms.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

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

// Text that is not JSON is read as YAML, the form ros2 topic echo prints.
json parseTransformText(const std::string& text, const std::string& path) {
  std::string json_problem;
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    json_problem = jsonProblem(e);
  }
  if (text.size() > kMaxYamlTransformFileBytes) {
    throw InputError(path + ": not a transform document: " + json_problem + ", and " +
                     std::to_string(text.size()) + " bytes is too long for one in YAML");
  }
  YAML::Node node;
  try {
    node = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    throw InputError(path + ": not a transform document: " + json_problem +
                     ", nor valid YAML (at line " + std::to_string(e.mark.line + 1) + ")");
  }
  try {
    return vbu::yamlNodeToJson(node);
  } catch (const std::runtime_error& e) {
    throw InputError(path + ": " + e.what());
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
      throw InputError(path + ": unknown member \"" + where + member.key() + "\"");
    }
  }
}

const json& requireMember(const json& object, const char* name, const std::string& where,
                          const std::string& path) {
  const auto member = object.find(name);
  if (member == object.end()) {
    throw InputError(path + ": member \"" + where + name + "\" is missing");
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
    throw InputError(path + ": \"" + where + key + "\" must be a mapping of " + listed);
  }
  requireOnly(object, names, inner, path);
  std::array<double, N> numbers{};
  for (std::size_t i = 0; i < N; ++i) {
    const json& value = requireMember(object, names[i], inner, path);
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
      throw InputError(path + ": \"" + inner + names[i] + "\" must be a finite number");
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
    throw InputError(path + ": not a transform document: expected translation and rotation");
  }
  if (!doc.contains("transform")) {
    return namedTransform(doc, "", path);
  }
  requireOnly(doc, Names<3>{"header", "child_frame_id", "transform"}, "", path);
  const json& transform = doc["transform"];
  if (!transform.is_object()) {
    throw InputError(path + ": \"transform\" must be a mapping of translation, rotation");
  }
  return namedTransform(transform, "transform.", path);
}

}  // namespace

Eigen::Matrix4d readTransformFile(const std::string& path) {
  const json doc = parseTransformText(readInputFile(path, kMaxTransformFileBytes), path);
  const bool document_form =
      doc.is_object() && doc.contains("translation") && doc["translation"].is_array();
  if (document_form) {
    checkTransformShape(doc, path);
    return vbu::toEigenTransform(doc);
  }
  return vbu::toEigenTransform(namedTransformOrStamped(doc, path));
}

}  // namespace vantorel_tools
