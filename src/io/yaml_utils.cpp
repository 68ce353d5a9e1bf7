// YAML files read into yaml-cpp nodes, and the public conversions to JSON.
#include "vantorel_base_utils/yaml_utils.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <yaml-cpp/depthguard.h>
#include <rclcpp/logging.hpp>

#include "io/yaml_to_json.hpp"

namespace vantorel_base_utils {

namespace {

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

// The one rule of readYamlToJson beyond the plain conversion: a failure inside an element of
// a top-level "pose_info" sequence names the element's index and the file.
nlohmann::json convertPoseInfo(YamlToJson& converter, const YAML::Node& sequence,
                               const std::string& file_path) {
  return converter.convertSequence(sequence, [&](std::size_t index, const YAML::Node& element) {
    try {
      return converter.convert(element);
    } catch (const std::exception& e) {
      throw std::runtime_error("Failed converting pose_info[" + std::to_string(index) + "] in " +
                               file_path + ": " + e.what());
    }
  });
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
  return YamlToJson().convert(node);
}

nlohmann::json readYamlToJson(const std::string& file_path, const rclcpp::Logger& logger) {
  const YAML::Node root = readYaml(file_path, logger);
  YamlToJson converter;
  if (!root.IsMap()) {
    return converter.convert(root);
  }
  return converter.convertMapping(root, [&](const std::string& key, const YAML::Node& value) {
    if (key == "pose_info" && value.IsSequence()) {
      return convertPoseInfo(converter, value, file_path);
    }
    return converter.convert(value);
  });
}

}  // namespace vantorel_base_utils
