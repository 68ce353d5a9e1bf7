// SPDX-License-Identifier: Apache-2.0
// The walk that turns a yaml-cpp node tree into a JSON document; internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__YAML_TO_JSON_HPP_
#define VANTOREL_BASE_UTILS__IO__YAML_TO_JSON_HPP_

#include <cstddef>
#include <string>
#include <utility>

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>

namespace vantorel_base_utils {

// The node path of the node under conversion ($.key[index]), grown and shrunk in place so
// that deep documents cost memory linear in their depth.
class NodePath {
 public:
  explicit NodePath(std::string root) : text_(std::move(root)) {}
  const std::string& text() const { return text_; }

  // Extends the path for the lifetime of the returned guard.
  class Extension {
   public:
    Extension(NodePath& path, const std::string& suffix)
        : path_(path), previous_size_(path.text_.size()) {
      path_.text_ += suffix;
    }
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;
    ~Extension() { path_.text_.resize(previous_size_); }

   private:
    NodePath& path_;
    std::size_t previous_size_;
  };

  Extension member(const std::string& key) { return Extension(*this, "." + key); }
  Extension element(std::size_t index) {
    return Extension(*this, "[" + std::to_string(index) + "]");
  }

 private:
  std::string text_;
};

// Work and depth limits of one conversion; yaml-cpp shares aliased nodes, so the work of a
// conversion is not bounded by the size of the file.
class ConversionBudget {
 public:
  void countNode(const NodePath& path);
  void countText(std::size_t length, const NodePath& path);

  // Holds one level of nesting for its lifetime.
  class Level {
   public:
    Level(ConversionBudget& budget, const NodePath& path);
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    ~Level() { --budget_.depth_; }

   private:
    ConversionBudget& budget_;
  };

 private:
  std::size_t nodes_ = 0;
  std::size_t bytes_ = 0;
  std::size_t depth_ = 0;
};

// One conversion: the node path and the budget that every node of it shares. Errors throw
// std::runtime_error naming the node path.
class YamlToJson {
 public:
  YamlToJson() : path_("$") {}

  // Any node, at the current path.
  nlohmann::json convert(const YAML::Node& node);

  // A mapping, member by member: convert_member(key, value) gives each member's value while
  // the path names that member. Every mapping of the document goes through here.
  template <typename ConvertMember>
  nlohmann::json convertMapping(const YAML::Node& node, ConvertMember convert_member) {
    budget_.countNode(path_);
    const ConversionBudget::Level level(budget_, path_);
    nlohmann::json object = nlohmann::json::object();
    for (auto it = node.begin(); it != node.end(); ++it) {
      const std::string key = keyText(it->first);
      const auto extension = path_.member(key);
      object[key] = convert_member(key, it->second);
    }
    return object;
  }

  // A sequence, element by element: convert_element(index, element) gives each element while
  // the path names that element.
  template <typename ConvertElement>
  nlohmann::json convertSequence(const YAML::Node& node, ConvertElement convert_element) {
    budget_.countNode(path_);
    const ConversionBudget::Level level(budget_, path_);
    nlohmann::json array = nlohmann::json::array();
    std::size_t index = 0;
    for (auto it = node.begin(); it != node.end(); ++it, ++index) {
      const auto extension = path_.element(index);
      array.push_back(convert_element(index, *it));
    }
    return array;
  }

 private:
  std::string keyText(const YAML::Node& key);
  nlohmann::json convertScalar(const YAML::Node& node);

  NodePath path_;
  ConversionBudget budget_;
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__YAML_TO_JSON_HPP_
