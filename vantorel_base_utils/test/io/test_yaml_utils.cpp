// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "support/log_capture.hpp"
#include "support/runtime_error_text.hpp"
#include "support/starts_with.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vantorel_test::LogCapture;
using vantorel_test::startsWith;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

using vantorel_test::runtimeErrorText;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("yaml_test");

json convert(const std::string& yaml) {
  return vbu::yamlNodeToJson(YAML::Load(yaml));
}

// "&a<level> [...]": ten "lol" at level 0, otherwise ten aliases of the level below.
std::string aliasLevel(const std::string& anchor, int level) {
  const std::string item = level == 0 ? "lol" : "*" + anchor + std::to_string(level - 1);
  std::string text = "&" + anchor + std::to_string(level) + " [" + item;
  for (int i = 1; i < 10; ++i) {
    text += ", " + item;
  }
  return text + "]";
}

YAML::Node nestedSequences(std::size_t depth) {
  YAML::Node node(YAML::NodeType::Sequence);
  for (std::size_t i = 1; i < depth; ++i) {
    YAML::Node outer(YAML::NodeType::Sequence);
    outer.push_back(node);
    node.reset(outer);  // rebinds; assignment would copy content into the inner node
  }
  return node;
}

}  // namespace

TEST(YamlToJson, ScalarsAreTriedAsIntegerFloatBooleanThenString) {
  const json j = convert(R"(
ints: [42, -7, 0x1F, 010, "42", 1, 0, +5]
floats: [3.5, 1e3, 3000000000, 08, .5]
specials: [.inf, -.Inf, .NaN, +.inf]
truths: [true, Yes, on, y]
falsehoods: [false, NO, off, n]
strings: [abc, 1.5abc, "", "-", falsey, yes please]
nulls: {a: , b: ~, c: null}
keys: {1: a, ~: b, x: c, x: d}
)");
  EXPECT_EQ(j["ints"], json::parse("[42, -7, 31, 8, 42, 1, 0, 5]"));
  for (const auto& v : j["ints"]) {
    EXPECT_TRUE(v.is_number_integer()) << v;
  }
  EXPECT_EQ(j["floats"], json::parse("[3.5, 1000.0, 3000000000.0, 8.0, 0.5]"));
  EXPECT_TRUE(j["floats"][2].is_number_float());
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(j["specials"][0].get<double>(), inf);
  EXPECT_EQ(j["specials"][1].get<double>(), -inf);
  EXPECT_TRUE(std::isnan(j["specials"][2].get<double>()));
  EXPECT_EQ(j["specials"][3].get<double>(), inf);
  EXPECT_EQ(j["truths"], json::parse("[true, true, true, true]"));
  EXPECT_EQ(j["falsehoods"], json::parse("[false, false, false, false]"));
  EXPECT_EQ(j["strings"], json::parse(R"(["abc", "1.5abc", "", "-", "falsey", "yes please"])"));
  EXPECT_EQ(j["nulls"], json::parse(R"({"a": null, "b": null, "c": null})"));
  EXPECT_EQ(j["keys"], json::parse(R"({"1": "a", "null": "b", "x": "d"})"));
}

TEST(YamlToJson, ForeignNodesFailWithTheNodePath) {
  EXPECT_THROW(convert("? [1, 2]\n: v"), YAML::BadConversion);
  YAML::Node map = YAML::Load("{a: 1}");
  EXPECT_EQ(runtimeErrorText([&] { vbu::yamlNodeToJson(map["missing"]); }),
            "Unsupported YAML node type at $");
  const YAML::Node const_map = map;
  EXPECT_THROW(vbu::yamlNodeToJson(const_map["missing"]["deeper"]), YAML::InvalidNode);

  // Deeper than yaml-cpp's parser allows, so built in memory.
  YAML::Node root = YAML::Load("a: [0, 1]");
  root["a"].push_back(nestedSequences(vbu::kYamlMaxDepth + 5));
  EXPECT_TRUE(startsWith(runtimeErrorText([&] { vbu::yamlNodeToJson(root); }),
                         "YAML document nested too deeply at $.a[2][0][0]"));
  EXPECT_TRUE(vbu::yamlNodeToJson(nestedSequences(vbu::kYamlMaxDepth)).is_array());
  // A node that contains itself ends the same way instead of recursing forever.
  YAML::Node loop(YAML::NodeType::Sequence);
  loop.push_back(1);
  loop.push_back(loop);
  EXPECT_TRUE(startsWith(runtimeErrorText([&] { vbu::yamlNodeToJson(loop); }),
                         "YAML document nested too deeply at $[1][1][1]"));
}

TEST(YamlToJson, AliasExpansionIsBoundedInNodesAndInText) {
  std::string bomb;  // a few hundred bytes standing for 10^9 scalars
  for (int level = 0; level <= 9; ++level) {
    bomb += "l" + std::to_string(level) + ": " + aliasLevel("l", level) + "\n";
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(startsWith(runtimeErrorText([&] { convert(bomb); }),
                         "YAML document too large to convert at $.l5"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

  std::string long_text = "s: &s " + std::string(std::size_t{1} << 20, 'x') + "\nuses: [*s";
  for (int i = 0; i < 70; ++i) {
    long_text += ", *s";
  }
  EXPECT_TRUE(startsWith(runtimeErrorText([&] { convert(long_text + "]"); }),
                         "YAML document too large to convert at $.uses["));

  // Modest sharing converts normally: each use becomes a full copy.
  EXPECT_EQ(convert("base: &b {x: 1}\nfirst: *b\nsecond: *b")["second"], json({{"x", 1}}));
}

TEST(ReadYamlToJson, LoadsFilesAndLogsProblems) {
  TempDir dir;
  const std::string path = dir.file("in.yaml");
  struct Case {
    std::string content;
    int severity;  // of the one message expected, or 0 for none
    std::string message_start;
  };
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const Case cases[] = {
      {"b: [1, two]\na: {c: 2.5}\n", 0, ""},
      {"# only a comment\n", RCUTILS_LOG_SEVERITY_WARN,
       "readYaml: YAML file is empty or invalid: "},
      {"a: [1, 2\n", RCUTILS_LOG_SEVERITY_ERROR, "readYaml: YAML parse error: "},
      {deep, RCUTILS_LOG_SEVERITY_ERROR, "readYaml: YAML parse error: "},
  };
  for (const Case& c : cases) {
    writeFile(path, c.content);
    LogCapture capture;
    try {
      const json j = vbu::readYamlToJson(path, kLogger);
      EXPECT_EQ(j, c.severity == 0 ? json::parse(R"({"a":{"c":2.5},"b":[1,"two"]})") : json());
    } catch (const YAML::ParserException&) {
      EXPECT_EQ(c.severity, RCUTILS_LOG_SEVERITY_ERROR);
    }
    const auto records = capture.records();
    ASSERT_EQ(records.size(), c.severity == 0 ? 0u : 1u);
    if (c.severity != 0) {
      EXPECT_EQ(records[0].severity, c.severity);
      EXPECT_TRUE(startsWith(records[0].text, c.message_start + path));
    }
  }
  LogCapture capture;
  EXPECT_THROW(vbu::readYaml(dir.file("missing.yaml"), kLogger), YAML::BadFile);
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_TRUE(startsWith(capture.records()[0].text,
                         "readYaml: cannot open YAML file: " + dir.file("missing.yaml") + " - "));
  writeFile(path, "- pose_info: [x]\n- 3\n");
  EXPECT_EQ(vbu::readYamlToJson(path, kLogger), json::parse(R"([{"pose_info":["x"]}, 3])"));
}

TEST(ReadYamlToJson, PoseInfoElementErrorsNameTheIndexAndTheFile) {
  TempDir dir;
  const std::string path = dir.file("poses.yaml");
  writeFile(path, "pose_info:\n  - {x: 1}\n  - {? [1, 2] : 3}\nother: 5\n");
  EXPECT_TRUE(startsWith(runtimeErrorText([&] { vbu::readYamlToJson(path, kLogger); }),
                         "Failed converting pose_info[1] in " + path + ": "));
  writeFile(path, "poses:\n  - {? [1, 2] : 3}\n");  // elsewhere the fault is not wrapped
  EXPECT_THROW(vbu::readYamlToJson(path, kLogger), YAML::BadConversion);

  writeFile(path, "pose_info:\n  - [0.1, 2]\n  - ~\nextra: {pose_info: [1]}\n");
  EXPECT_EQ(vbu::readYamlToJson(path, kLogger),
            json::parse(R"({"extra":{"pose_info":[1]},"pose_info":[[0.1,2],null]})"));
  writeFile(path, "pose_info: none\n");
  EXPECT_EQ(vbu::readYamlToJson(path, kLogger), json::parse(R"({"pose_info":"none"})"));
}

// yaml-cpp's tree takes several hundred bytes per node: such files are refused unbuilt.
TEST(ReadYaml, RefusesOversizedFilesBeforeBuildingTheirTree) {
  TempDir dir;
  const std::string path = dir.file("big.yaml");
  std::string sequence = "[0";  // the sequence and its scalars: one node beyond the budget
  for (std::size_t i = 1; i < vbu::kYamlMaxParsedNodes; ++i) {
    sequence += ",0";
  }
  writeFile(path, sequence + "]");
  const auto refusal = [&] {
    LogCapture capture;
    const std::string text =
        vantorel_test::errorText<YAML::ParserException>([&] { vbu::readYaml(path, kLogger); });
    EXPECT_EQ(capture.records().size(), 1u);
    EXPECT_TRUE(startsWith(capture.records().at(0).text,
                           "readYaml: YAML parse error: " + path + " - " + text));
    return text;
  };
  EXPECT_EQ(refusal(), "YAML document too large: more than 1000000 nodes, keys included");

  std::filesystem::resize_file(path, vbu::kYamlMaxFileBytes + 1);  // sparse, read never
  EXPECT_EQ(refusal(), "YAML file larger than 16777216 bytes");
}
