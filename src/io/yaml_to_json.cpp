#include "vantorel_base_utils/yaml_utils.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include <yaml-cpp/depthguard.h>
#include <rclcpp/logging.hpp>

namespace vantorel_base_utils {

namespace {

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
  void countNode(const NodePath& path) {
    if (++nodes_ > kYamlMaxConvertedNodes) {
      throw std::runtime_error("YAML document too large to convert at " + path.text() +
                               ": more than " + std::to_string(kYamlMaxConvertedNodes) +
                               " nodes (aliases expand to a copy per use)");
    }
  }
  void countText(std::size_t length, const NodePath& path) {
    bytes_ += length;
    if (bytes_ > kYamlMaxConvertedBytes) {
      throw std::runtime_error("YAML document too large to convert at " + path.text() +
                               ": more than " + std::to_string(kYamlMaxConvertedBytes) +
                               " bytes of text (aliases expand to a copy per use)");
    }
  }

  // Holds one level of nesting for its lifetime.
  class Level {
   public:
    Level(ConversionBudget& budget, const NodePath& path) : budget_(budget) {
      if (++budget_.depth_ > kYamlMaxDepth) {
        --budget_.depth_;
        throw std::runtime_error("YAML document nested too deeply at " + path.text() +
                                 ": more than " + std::to_string(kYamlMaxDepth) + " levels");
      }
    }
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

nlohmann::json convertScalar(const YAML::Node& node, const NodePath& path,
                             ConversionBudget& budget) {
  budget.countText(node.Scalar().size(), path);
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
    throw std::runtime_error("Failed to convert scalar at " + path.text() + ": " + e.what());
  }
}

// A scalar key gives its text, a null key "null"; a sequence or mapping key makes yaml-cpp
// throw its bad-conversion exception, which is passed on.
std::string keyText(const YAML::Node& key, const NodePath& path, ConversionBudget& budget) {
  std::string text = key.as<std::string>();
  budget.countText(text.size(), path);
  return text;
}

nlohmann::json convertYamlNode(const YAML::Node& node, NodePath& path, ConversionBudget& budget);

nlohmann::json convertSequence(const YAML::Node& node, NodePath& path, ConversionBudget& budget) {
  const ConversionBudget::Level level(budget, path);
  nlohmann::json array = nlohmann::json::array();
  std::size_t index = 0;
  for (auto it = node.begin(); it != node.end(); ++it, ++index) {
    const auto extension = path.element(index);
    array.push_back(convertYamlNode(*it, path, budget));
  }
  return array;
}

nlohmann::json convertMap(const YAML::Node& node, NodePath& path, ConversionBudget& budget) {
  const ConversionBudget::Level level(budget, path);
  nlohmann::json object = nlohmann::json::object();
  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string key = keyText(it->first, path, budget);
    const auto extension = path.member(key);
    object[key] = convertYamlNode(it->second, path, budget);
  }
  return object;
}

nlohmann::json convertYamlNode(const YAML::Node& node, NodePath& path, ConversionBudget& budget) {
  const YAML::NodeType::value type = node.Type();  // an invalid node throws here
  budget.countNode(path);
  switch (type) {
    case YAML::NodeType::Null:
      return nullptr;
    case YAML::NodeType::Sequence:
      return convertSequence(node, path, budget);
    case YAML::NodeType::Map:
      return convertMap(node, path, budget);
    case YAML::NodeType::Scalar:
      return convertScalar(node, path, budget);
    case YAML::NodeType::Undefined:
      break;
  }
  throw std::runtime_error("Unsupported YAML node type at " + path.text());
}

nlohmann::json convertPoseInfo(const YAML::Node& sequence, const std::string& file_path,
                               ConversionBudget& budget) {
  nlohmann::json array = nlohmann::json::array();
  std::size_t index = 0;
  for (auto it = sequence.begin(); it != sequence.end(); ++it, ++index) {
    try {
      NodePath path("$.pose_info[" + std::to_string(index) + "]");
      array.push_back(convertYamlNode(*it, path, budget));
    } catch (const std::exception& e) {
      throw std::runtime_error("Failed converting pose_info[" + std::to_string(index) + "] in " +
                               file_path + ": " + e.what());
    }
  }
  return array;
}

// yaml-cpp's own file loading leaks its read buffer when reading fails under it (a path that
// names a directory, an I/O error), so the file is read here and parsed from memory. Failing
// to read is reported as yaml-cpp reports failing to open: the file is bad.
YAML::Node loadFile(const std::string& file_path) {
  std::ifstream in(file_path, std::ios::binary);
  if (!in.is_open()) {
    throw YAML::BadFile(file_path);
  }
  std::string text;
  try {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
    throw YAML::BadFile(file_path);
  }
  return YAML::Load(text);
}

}  // namespace

YAML::Node readYaml(const std::string& file_path, const rclcpp::Logger& logger) {
  try {
    YAML::Node root = loadFile(file_path);
    if (root.IsNull()) {
      RCLCPP_WARN(logger, "readYaml: YAML file is empty or invalid: %s", file_path.c_str());
    }
    return root;
  } catch (const YAML::BadFile& e) {
    RCLCPP_ERROR(logger, "readYaml: cannot open YAML file: %s - %s", file_path.c_str(), e.what());
    throw;
  } catch (const YAML::DeepRecursion& e) {
    // yaml-cpp gives this one a misleading text of its own ("bad file").
    const std::string text = std::string(e.what()) + " (nested deeper than the parser allows)";
    RCLCPP_ERROR(logger, "readYaml: YAML parse error: %s - %s", file_path.c_str(), text.c_str());
    throw;
  } catch (const YAML::ParserException& e) {
    RCLCPP_ERROR(logger, "readYaml: YAML parse error: %s - %s", file_path.c_str(), e.what());
    throw;
  } catch (const std::exception& e) {
    RCLCPP_ERROR(logger, "readYaml: unknown error for %s - %s", file_path.c_str(), e.what());
    throw;
  }
}

nlohmann::json yamlNodeToJson(const YAML::Node& node) {
  NodePath path("$");
  ConversionBudget budget;
  return convertYamlNode(node, path, budget);
}

nlohmann::json readYamlToJson(const std::string& file_path, const rclcpp::Logger& logger) {
  const YAML::Node root = readYaml(file_path, logger);
  ConversionBudget budget;
  NodePath path("$");
  if (!root.IsMap()) {
    return convertYamlNode(root, path, budget);
  }
  budget.countNode(path);
  nlohmann::json object = nlohmann::json::object();
  for (auto it = root.begin(); it != root.end(); ++it) {
    const std::string key = keyText(it->first, path, budget);
    if (key == "pose_info" && it->second.IsSequence()) {
      object[key] = convertPoseInfo(it->second, file_path, budget);
    } else {
      const auto extension = path.member(key);
      object[key] = convertYamlNode(it->second, path, budget);
    }
  }
  return object;
}

}  // namespace vantorel_base_utils
