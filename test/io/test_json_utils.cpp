#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/vantorel_base_utils.hpp"

namespace vbu = vantorel_base_utils;
namespace fs = std::filesystem;
using nlohmann::json;
using vantorel_test::LogCapture;
using vantorel_test::readFile;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("json_test");

std::size_t entriesIn(const fs::path& directory) {
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(directory)) {
    (void)entry;
    ++n;
  }
  return n;
}

std::string startOfOnlyRecord(const LogCapture& capture, int severity) {
  const auto records = capture.records();
  if (records.size() != 1 || records[0].severity != severity) {
    return "<" + std::to_string(records.size()) + " records>";
  }
  return records[0].text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(SaveJson, WritesSortedIndentedOrCompactTextWithoutTrailingNewline) {
  TempDir dir;
  LogCapture capture;
  json doc = json::object();
  doc["b"] = json::array({1, "é"});
  doc["a"] = std::numeric_limits<double>::quiet_NaN();

  vbu::saveJson(doc, dir.file("pretty.json"), 2, kLogger);
  EXPECT_EQ(readFile(dir.file("pretty.json")),
            "{\n  \"a\": null,\n  \"b\": [\n    1,\n    \"é\"\n  ]\n}");
  vbu::saveJson(doc, dir.file("flat.json"), 0, kLogger);
  EXPECT_EQ(readFile(dir.file("flat.json")), "{\n\"a\": null,\n\"b\": [\n1,\n\"é\"\n]\n}");
  vbu::saveJson(doc, dir.file("compact.json"), -1, kLogger);
  EXPECT_EQ(readFile(dir.file("compact.json")), "{\"a\":null,\"b\":[1,\"é\"]}");

  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_DEBUG, "Saved JSON: " + dir.file("compact.json")),
            1);
  EXPECT_EQ(capture.records().size(), 3u);
  EXPECT_EQ(entriesIn(dir.path()), 3u);  // no temporary files left behind
}

TEST(SaveJson, CreatesMissingDirectoriesAndWritesBareNamesToTheWorkingDirectory) {
  TempDir dir;
  LogCapture capture;
  const std::string nested = dir.file("out/sub/x.json");
  vbu::saveJson(json{{"k", 1}}, nested, -1, kLogger);
  EXPECT_EQ(readFile(nested), "{\"k\":1}");

  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  vbu::saveJson(json::array(), "bare.json", -1, kLogger);
  fs::current_path(previous);
  EXPECT_EQ(readFile(dir.file("bare.json")), "[]");
  EXPECT_EQ(entriesIn(dir.path()), 2u);  // out/ and bare.json
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_DEBUG, "Saved JSON: bare.json"), 1);
}

TEST(SaveJson, ReplacesAnExistingFileKeepingItsPermissionsAndWritesThroughLinks) {
  TempDir dir;
  const std::string target = dir.file("data.json");
  writeFile(target, "old content that is longer than the new one");
  ::chmod(target.c_str(), 0640);
  fs::create_symlink(target, dir.file("link.json"));

  vbu::saveJson(json{1}, target, -1, kLogger);
  EXPECT_EQ(readFile(target), "[1]");
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  vbu::saveJson(json{2}, dir.file("link.json"), -1, kLogger);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.json")));
  EXPECT_EQ(readFile(target), "[2]");
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(SaveJson, FailedSerialisationLeavesThePreviousFileIntact) {
  TempDir dir;
  LogCapture capture;
  const std::string target = dir.file("good.json");
  writeFile(target, "{\"good\": true}");
  const json invalid_utf8 = {{"name", std::string("bad \xff byte")}};

  vbu::saveJson(invalid_utf8, target, 2, kLogger);
  EXPECT_EQ(readFile(target), "{\"good\": true}");
  EXPECT_TRUE(startsWith(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
                         "Failed to save JSON " + target + ": [json.exception.type_error.316]"));

  const std::string fresh = dir.file("fresh.json");
  vbu::saveJson(invalid_utf8, fresh, 2, kLogger);
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(SaveJson, UnopenableTargetsAreReportedAndTouchNothing) {
  TempDir dir;
  fs::create_directory(dir.file("a_directory"));
  writeFile(dir.file("a_file"), "keep");
  {
    LogCapture capture;
    vbu::saveJson(json{1}, dir.file("a_directory"), 2, kLogger);
    EXPECT_EQ(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
              "Failed to open file for writing: " + dir.file("a_directory"));
    EXPECT_TRUE(fs::is_empty(dir.file("a_directory")));
  }
  {
    LogCapture capture;
    const std::string under_a_file = dir.file("a_file/x.json");
    vbu::saveJson(json{1}, under_a_file, 2, kLogger);
    EXPECT_TRUE(startsWith(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
                           "Failed to save JSON " + under_a_file + ": "));
    EXPECT_EQ(readFile(dir.file("a_file")), "keep");
  }
  {
    LogCapture capture;
    vbu::saveJson(json{1}, "", 2, kLogger);
    EXPECT_EQ(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
              "Failed to open file for writing: ");
  }
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

// A real failing write: a child process whose file size limit is smaller than the document.
TEST(SaveJson, FailedWriteLeavesThePreviousFileByteForByteIntact) {
  TempDir dir;
  const std::string target = dir.file("poses.json");
  const std::string previous = "{\"previous\": \"good\"}";
  writeFile(target, previous);
  json big = json::array();
  for (int i = 0; i < 5000; ++i) {
    big.push_back(i);
  }

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead of killing
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    LogCapture capture;
    vbu::saveJson(big, target, 2, kLogger);
    const std::string expected = "Failed to save JSON " + target + ": cannot write: File too large";
    ::_exit(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR) == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "unexpected log record in the child";
  EXPECT_EQ(readFile(target), previous);
  EXPECT_EQ(entriesIn(dir.path()), 1u);

  // Without the limit the same document is written in full.
  vbu::saveJson(big, target, 2, kLogger);
  EXPECT_EQ(json::parse(readFile(target)), big);
}

TEST(ReadJson, ReturnsTheFirstValueOfTheFile) {
  TempDir dir;
  LogCapture capture;
  writeFile(dir.file("array.json"), "[1, \"two\"]");
  EXPECT_EQ(vbu::readJson(dir.file("array.json"), kLogger), json::parse("[1, \"two\"]"));
  writeFile(dir.file("trailing.json"), "{\"a\": 1} and further words");
  EXPECT_EQ(vbu::readJson(dir.file("trailing.json"), kLogger), json({{"a", 1}}));
  writeFile(dir.file("scalar.json"), "null");
  EXPECT_TRUE(vbu::readJson(dir.file("scalar.json"), kLogger).is_null());

  const json doc = {{"z", {1.5, -2, "ü"}}, {"a", {{"nested", true}}}};
  vbu::saveJson(doc, dir.file("round.json"), 4, kLogger);
  EXPECT_EQ(vbu::readJson(dir.file("round.json"), kLogger), doc);
  EXPECT_EQ(capture.records().size(), 1u);  // only the DEBUG of the save
}

TEST(ReadJson, FailuresLogAndReturnAnEmptyObject) {
  TempDir dir;
  struct Case {
    std::string file;
    std::string content;
    std::string message_start;
  };
  const std::string missing = dir.file("missing.json");
  const std::string empty = dir.file("empty.json");
  const std::string comment = dir.file("comment.json");
  const Case cases[] = {
      {missing, "", "Failed to open JSON file: " + missing},
      {empty, "", "Failed to read JSON file " + empty + ": [json.exception.parse_error.101]"},
      {comment, "// note\n{}", "Failed to read JSON file " + comment + ": [json.exception.parse"},
  };
  for (const Case& c : cases) {
    if (c.file != missing) {
      writeFile(c.file, c.content);
    }
    LogCapture capture;
    const json result = vbu::readJson(c.file, kLogger);
    EXPECT_EQ(result, json::object()) << c.file;
    EXPECT_TRUE(startsWith(startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR), c.message_start))
        << startOfOnlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR);
  }
}
