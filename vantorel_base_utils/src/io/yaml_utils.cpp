// SPDX-License-Identifier: Apache-2.0
// YAML files read into yaml-cpp nodes, and the public conversions to JSON.
#include "vantorel_base_utils/yaml_utils.hpp"

#include <istream>
#include <stdexcept>
#include <string>

#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/parser.h>
#include <rclcpp/logging.hpp>

#include "io/text_buffer.hpp"
#include "io/yaml_text.hpp"
#include "io/yaml_to_json.hpp"
#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_base_utils {

namespace {

// A refusal of the document as a whole, reported as the parser's own limits are.
[[noreturn]] void refuseDocument(const std::string& reason) {
  throw YAML::ParserException(YAML::Mark::null_mark(), reason);
}

// Counts the nodes of the first document as the parser reports them, without building any,
// and stops the parse once there are too many: yaml-cpp's node tree takes several hundred
// bytes per node, so the tree of a few megabytes of YAML can take gigabytes.
class NodeCounter : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override { count(); }
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override { count(); }
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                const std::string&) override {
    count();
  }
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {
    count();
  }
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {
    count();
  }
  void OnMapEnd() override {}

 private:
  void count() {
    if (++nodes_ > kYamlMaxParsedNodes) {
      refuseDocument("YAML document too large: more than " + std::to_string(kYamlMaxParsedNodes) +
                     " nodes, keys included");
    }
  }
  std::size_t nodes_ = 0;
};

}  // namespace

YAML::Node parseYamlText(std::string& text) {
  {
    TextBuffer buffer(text);
    std::istream in(&buffer);
    YAML::Parser parser(in);
    NodeCounter counter;
    parser.HandleNextDocument(counter);
  }
  TextBuffer buffer(text);
  std::istream in(&buffer);
  return YAML::Load(in);
}

namespace {

// The file is read here rather than by yaml-cpp: its own loading leaks its read buffer when
// reading fails under it (a path that names a directory, an I/O error), waits on pipes, and
// reads files of any size. What cannot be read is reported as yaml-cpp reports failing to
// open a file: the file is bad.
YAML::Node loadFile(const std::string& file_path) {
  std::string text;
  try {
    text = readRegularFile(file_path, kYamlMaxFileBytes);
  } catch (const FileReadError& e) {
    if (e.reason() == FileReadError::Reason::kTooLarge) {
      refuseDocument(std::string("YAML file ") + e.what());
    }
    throw YAML::BadFile(file_path);
  }
  return parseYamlText(text);
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
