// SPDX-License-Identifier: Apache-2.0
// The YAML-to-JSON walk: scalar type decisions, node paths and conversion limits.
#include "io/yaml_to_json.hpp"

#include <stdexcept>
#include <string>

#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace vantorel_base_utils {

namespace {

// yaml-cpp's as<T>() is decode-or-throw; calling decode directly gives the same answer
// without paying for an exception on every string scalar.
template <typename T>
bool tryDecode(const YAML::Node& node, T& value) {
  try {
    return YAML::convert<T>::decode(node, value);
  } catch (...) {
    return false;
  }
}

// False only for texts that neither yaml-cpp's integer nor its floating-point decoding can
// accept: it reads without skipping whitespace, and no number, in any locale, nor any of
// its infinity and NaN names (".inf", "-.inf", ".nan"...) starts with a letter. Skipping
// words spares a stringstream copy of each.
bool mayBeNumber(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  const char first = text[0];
  return !((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'));
}

// yaml-cpp's boolean words (y, n, yes, no, on, off, true, false) have at most five letters;
// its decoding makes several lower-cased copies of the text, however long.
bool mayBeBoolean(const std::string& text) {
  return text.size() <= 5;
}

}  // namespace

void ConversionBudget::countNode(const NodePath& path) {
  if (++nodes_ > kYamlMaxConvertedNodes) {
    throw InputError(InputError::Reason::kOverLimit, path.text(),
                     "YAML document too large to convert at " + path.text() + ": more than " +
                         std::to_string(kYamlMaxConvertedNodes) +
                         " nodes (aliases expand to a copy per use)");
  }
}

void ConversionBudget::countText(std::size_t length, const NodePath& path) {
  bytes_ += length;
  if (bytes_ > kYamlMaxConvertedBytes) {
    throw InputError(InputError::Reason::kOverLimit, path.text(),
                     "YAML document too large to convert at " + path.text() + ": more than " +
                         std::to_string(kYamlMaxConvertedBytes) +
                         " bytes of text (aliases expand to a copy per use)");
  }
}

ConversionBudget::Level::Level(ConversionBudget& budget, const NodePath& path) : budget_(budget) {
  if (++budget_.depth_ > kYamlMaxDepth) {
    --budget_.depth_;
    throw InputError(InputError::Reason::kOverLimit, path.text(),
                     "YAML document nested too deeply at " + path.text() + ": more than " +
                         std::to_string(kYamlMaxDepth) + " levels");
  }
}

nlohmann::json YamlToJson::convert(const YAML::Node& node) {
  switch (node.Type()) {  // an invalid node throws here
    case YAML::NodeType::Map:
      return convertMapping(
          node, [this](const std::string&, const YAML::Node& value) { return convert(value); });
    case YAML::NodeType::Sequence:
      return convertSequence(
          node, [this](std::size_t, const YAML::Node& element) { return convert(element); });
    case YAML::NodeType::Null:
      budget_.countNode(path_);
      return nullptr;
    case YAML::NodeType::Scalar:
      budget_.countNode(path_);
      return convertScalar(node);
    case YAML::NodeType::Undefined:
      break;
  }
  budget_.countNode(path_);
  throw std::runtime_error("Unsupported YAML node type at " + path_.text());
}

// A scalar key gives its text, a null key "null"; a sequence or mapping key makes yaml-cpp
// throw its bad-conversion exception, which is passed on.
std::string YamlToJson::keyText(const YAML::Node& key) {
  std::string text = key.as<std::string>();
  budget_.countText(text.size(), path_);
  return text;
}

nlohmann::json YamlToJson::convertScalar(const YAML::Node& node) {
  budget_.countText(node.Scalar().size(), path_);
  if (mayBeNumber(node.Scalar())) {
    int integer = 0;
    if (tryDecode(node, integer)) {
      return integer;
    }
    double floating = 0.0;
    if (tryDecode(node, floating)) {
      return floating;
    }
  }
  bool boolean = false;
  if (mayBeBoolean(node.Scalar()) && tryDecode(node, boolean)) {
    return boolean;
  }
  try {
    return node.as<std::string>();
  } catch (const std::exception& e) {
    throw std::runtime_error("Failed to convert scalar at " + path_.text() + ": " + e.what());
  }
}

}  // namespace vantorel_base_utils
