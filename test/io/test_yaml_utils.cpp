#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/vantorel_base_utils.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vantorel_test::LogCapture;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("yaml_test");

json convert(const std::string& yaml) {
  return vbu::yamlNodeToJson(YAML::Load(yaml));
}

template <typename Call>
std::string runtimeErrorOf(Call call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no runtime_error";
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
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

// Nine levels of ten aliases each: a few hundred bytes standing for 10^9 scalars.
std::string aliasBomb() {
  std::string yaml;
  for (int level = 0; level <= 9; ++level) {
    yaml += "l" + std::to_string(level) + ": " + aliasLevel("l", level) + "\n";
  }
  return yaml;
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
)");
  EXPECT_EQ(j["ints"], json::parse("[42, -7, 31, 8, 42, 1, 0, 5]"));
  for (const auto& v : j["ints"]) {
    EXPECT_TRUE(v.is_number_integer()) << v;
  }
  for (const auto& v : j["floats"]) {
    EXPECT_TRUE(v.is_number_float()) << v;
  }
  EXPECT_EQ(j["floats"], json::parse("[3.5, 1000.0, 3000000000.0, 8.0, 0.5]"));
  EXPECT_EQ(j["specials"][0].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(j["specials"][1].get<double>(), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(j["specials"][2].get<double>()));
  EXPECT_EQ(j["specials"][3].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(j["truths"], json::parse("[true, true, true, true]"));
  EXPECT_EQ(j["falsehoods"], json::parse("[false, false, false, false]"));
  EXPECT_EQ(j["strings"], json::parse(R"(["abc", "1.5abc", "", "-", "falsey", "yes please"])"));
  EXPECT_EQ(j["nulls"], json::parse(R"({"a": null, "b": null, "c": null})"));
}

TEST(YamlToJson, KeysBecomeTheirTextAndNonScalarKeysAreRejected) {
  EXPECT_EQ(convert("{1: a, ~: b, x: c, x: d}"),
            json::parse(R"({"1": "a", "null": "b", "x": "d"})"));
  EXPECT_EQ(convert("- [1, {k: v}]\n- ~"), json::parse(R"([[1, {"k": "v"}], null])"));
  EXPECT_THROW(convert("? [1, 2]\n: v"), YAML::BadConversion);
}

TEST(YamlToJson, UndefinedAndInvalidNodes) {
  YAML::Node map = YAML::Load("{a: 1}");
  EXPECT_EQ(runtimeErrorOf([&] { vbu::yamlNodeToJson(map["missing"]); }),
            "Unsupported YAML node type at $");
  const YAML::Node const_map = map;
  EXPECT_THROW(vbu::yamlNodeToJson(const_map["missing"]["deeper"]), YAML::InvalidNode);
}

TEST(YamlToJson, DeepNestingFailsCleanlyWithTheNodePath) {
  // Built in memory, since yaml-cpp's parser refuses documents this deep by itself.
  YAML::Node deep(YAML::NodeType::Sequence);
  for (std::size_t i = 0; i < vbu::kYamlMaxDepth + 5; ++i) {
    YAML::Node outer(YAML::NodeType::Sequence);
    outer.push_back(deep);
    deep.reset(outer);  // rebinds; assignment would copy content into the inner node
  }
  YAML::Node root = YAML::Load("a: [0, 1]");
  root["a"].push_back(deep);
  const std::string what = runtimeErrorOf([&] { vbu::yamlNodeToJson(root); });
  EXPECT_TRUE(startsWith(what, "YAML document nested too deeply at $.a[2][0][0]")) << what;

  // As deep as the limit allows still converts.
  YAML::Node allowed(YAML::NodeType::Sequence);
  for (std::size_t i = 1; i < vbu::kYamlMaxDepth; ++i) {
    YAML::Node outer(YAML::NodeType::Sequence);
    outer.push_back(allowed);
    allowed.reset(outer);
  }
  EXPECT_TRUE(vbu::yamlNodeToJson(allowed).is_array());

  // A node that contains itself ends the same way instead of recursing forever.
  YAML::Node loop(YAML::NodeType::Sequence);
  loop.push_back(1);
  loop.push_back(loop);
  EXPECT_TRUE(startsWith(runtimeErrorOf([&] { vbu::yamlNodeToJson(loop); }),
                         "YAML document nested too deeply at $[1][1][1]"));
}

TEST(YamlToJson, AliasExpansionIsBoundedInNodesAndInText) {
  const auto start = std::chrono::steady_clock::now();
  const std::string what = runtimeErrorOf([] { convert(aliasBomb()); });
  EXPECT_TRUE(startsWith(what, "YAML document too large to convert at $.l")) << what;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

  // Few nodes, but a long scalar used many times.
  const std::string long_text(std::size_t{1} << 20, 'x');
  std::string yaml = "s: &s " + long_text + "\nuses: [";
  for (int i = 0; i < 260; ++i) {
    yaml += "*s, ";
  }
  yaml += "*s]\n";
  const std::string text_what = runtimeErrorOf([&] { convert(yaml); });
  EXPECT_TRUE(startsWith(text_what, "YAML document too large to convert at $.uses[")) << text_what;

  // Modest sharing converts normally: each use becomes a full copy.
  const json shared = convert("base: &b {x: 1}\nfirst: *b\nsecond: *b");
  EXPECT_EQ(shared["second"], json::parse(R"({"x": 1})"));
}

TEST(ReadYamlToJson, LoadsFilesAndLogsProblems) {
  TempDir dir;
  const std::string mapping = dir.file("mapping.yaml");
  writeFile(mapping, "b: [1, two]\na: {c: 2.5}\n");
  {
    LogCapture capture;
    EXPECT_EQ(vbu::readYamlToJson(mapping, kLogger),
              json::parse(R"({"a":{"c":2.5},"b":[1,"two"]})"));
    EXPECT_TRUE(capture.records().empty());
  }
  const std::string sequence = dir.file("sequence.yaml");
  writeFile(sequence, "- pose_info: [x]\n- 3\n");
  EXPECT_EQ(vbu::readYamlToJson(sequence, kLogger), json::parse(R"([{"pose_info":["x"]}, 3])"));

  const std::string empty = dir.file("empty.yaml");
  writeFile(empty, "# only a comment\n");
  {
    LogCapture capture;
    EXPECT_TRUE(vbu::readYamlToJson(empty, kLogger).is_null());
    EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_WARN,
                            "readYaml: YAML file is empty or invalid: " + empty),
              1);
  }
  const std::string missing = dir.file("missing.yaml");
  {
    LogCapture capture;
    EXPECT_THROW(vbu::readYamlToJson(missing, kLogger), YAML::BadFile);
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_TRUE(startsWith(capture.records()[0].text,
                           "readYaml: cannot open YAML file: " + missing + " - "));
  }
  const std::string malformed = dir.file("malformed.yaml");
  writeFile(malformed, "a: [1, 2\n");
  {
    LogCapture capture;
    EXPECT_THROW(vbu::readYaml(malformed, kLogger), YAML::ParserException);
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.records()[0].severity, RCUTILS_LOG_SEVERITY_ERROR);
    EXPECT_TRUE(
        startsWith(capture.records()[0].text, "readYaml: YAML parse error: " + malformed + " - "));
  }
  const std::string deep = dir.file("deep.yaml");
  writeFile(deep, std::string(100000, '[') + std::string(100000, ']'));
  {
    LogCapture capture;
    EXPECT_THROW(vbu::readYamlToJson(deep, kLogger), YAML::ParserException);
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_NE(capture.records()[0].text.find("nested deeper than the parser allows"),
              std::string::npos);
  }
}

TEST(ReadYamlToJson, PoseInfoElementErrorsNameTheIndexAndTheFile) {
  TempDir dir;
  const std::string path = dir.file("poses.yaml");
  writeFile(path, "pose_info:\n  - {x: 1}\n  - {? [1, 2] : 3}\nother: 5\n");
  const std::string what = runtimeErrorOf([&] { vbu::readYamlToJson(path, kLogger); });
  EXPECT_TRUE(startsWith(what, "Failed converting pose_info[1] in " + path + ": ")) << what;

  // Elsewhere the same fault passes through unwrapped.
  writeFile(path, "poses:\n  - {? [1, 2] : 3}\n");
  EXPECT_THROW(vbu::readYamlToJson(path, kLogger), YAML::BadConversion);

  // A well-formed pose_info converts like any other sequence, and so does a scalar one.
  writeFile(path, "pose_info:\n  - [0.1, 2]\n  - ~\nextra: {pose_info: [1]}\n");
  EXPECT_EQ(vbu::readYamlToJson(path, kLogger),
            json::parse(R"({"extra":{"pose_info":[1]},"pose_info":[[0.1,2],null]})"));
  writeFile(path, "pose_info: none\n");
  EXPECT_EQ(vbu::readYamlToJson(path, kLogger), json::parse(R"({"pose_info":"none"})"));

  // The alias bound also covers the pose list, reported for the element that crosses it.
  std::string bomb = "pose_info:\n";
  for (int level = 0; level <= 8; ++level) {
    bomb += "  - " + aliasLevel("p", level) + "\n";
  }
  writeFile(path, bomb);
  const std::string bomb_what = runtimeErrorOf([&] { vbu::readYamlToJson(path, kLogger); });
  EXPECT_TRUE(startsWith(bomb_what, "Failed converting pose_info[6] in " + path +
                                        ": YAML document too large to convert at $.pose_info[6]"))
      << bomb_what;
}
