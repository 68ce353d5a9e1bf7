// SPDX-License-Identifier: Apache-2.0
// The JSON and YAML readers on a file that is removed, replaced or made unreadable between
// two calls: each call reports what it finds then, as documented, and none caches anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/child_process.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/json_utils.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace vbu = vantorel_base_utils;
namespace fs = std::filesystem;
using nlohmann::json;
using vantorel_test::LogCapture;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("read_faults_test");

// What one read gave: the document, or the kind of exception; and the one ERROR logged.
struct ReadOutcome {
  json document;
  std::string thrown;  // "", "YAML::BadFile" or "std::exception"
  std::string error_logged;

  std::string describe() const { return document.dump() + " | " + thrown + " | " + error_logged; }
};

std::string onlyErrorText(const LogCapture& capture) {
  const auto records = capture.records();
  if (records.empty()) {
    return "";
  }
  if (records.size() != 1 || records[0].severity != RCUTILS_LOG_SEVERITY_ERROR) {
    return "<unexpected records>";
  }
  return records[0].text;
}

ReadOutcome readAsJson(const std::string& path) {
  LogCapture capture;
  ReadOutcome outcome;
  outcome.document = vbu::readJson(path, kLogger);
  outcome.error_logged = onlyErrorText(capture);
  return outcome;
}

ReadOutcome readAsYaml(const std::string& path) {
  LogCapture capture;
  ReadOutcome outcome;
  try {
    outcome.document = vbu::readYamlToJson(path, kLogger);
  } catch (const YAML::BadFile&) {
    outcome.thrown = "YAML::BadFile";
  } catch (const std::exception&) {
    outcome.thrown = "std::exception";
  }
  outcome.error_logged = onlyErrorText(capture);
  return outcome;
}

// The logged text cut to its part before the system's own words.
ReadOutcome withLogCutAfter(ReadOutcome outcome, const std::string& prefix) {
  if (outcome.error_logged.rfind(prefix, 0) == 0) {
    outcome.error_logged = prefix + "...";
  }
  return outcome;
}

struct Expected {
  ReadOutcome json_reader;
  ReadOutcome yaml_reader;
};

// What both readers report for a path that cannot be opened.
Expected cannotOpen(const std::string& path) {
  return {{json::object(), "", "Failed to open JSON file: " + path},
          {nullptr, "YAML::BadFile", "readYaml: cannot open YAML file: " + path + " - ..."}};
}

void expectBothReaders(const std::string& path, const Expected& expected, const char* state) {
  EXPECT_EQ(withLogCutAfter(readAsJson(path), "Failed to read JSON file " + path + ": ").describe(),
            expected.json_reader.describe())
      << state;
  EXPECT_EQ(withLogCutAfter(readAsYaml(path), "readYaml: cannot open YAML file: " + path + " - ")
                .describe(),
            expected.yaml_reader.describe())
      << state;
}

}  // namespace

TEST(ReadFaults, EachCallReportsWhatItFindsAtThePath) {
  TempDir dir;
  const std::string path = dir.file("config.json");  // JSON text is YAML text as well
  const Expected readable = {{json{{"a", 1}}, "", ""}, {json{{"a", 1}}, "", ""}};

  writeFile(path, "{\"a\": 1}");
  expectBothReaders(path, readable, "present");
  fs::remove(path);
  expectBothReaders(path, cannotOpen(path), "removed");
  fs::create_symlink(dir.file("gone.json"), path);
  expectBothReaders(path, cannotOpen(path), "dangling link");
  fs::remove(path);
  fs::create_directory(path);
  expectBothReaders(path,
                    {{json::object(), "", "Failed to read JSON file " + path + ": ..."},
                     cannotOpen(path).yaml_reader},
                    "a directory");
  fs::remove(path);
  writeFile(path, "{\"a\": 2}");
  expectBothReaders(path, {{json{{"a", 2}}, "", ""}, {json{{"a", 2}}, "", ""}}, "rewritten");
}

// Root reads any file whatever its permission bits, so an unprivileged child does the reading.
TEST(ReadFaults, AFileMadeUnreadableIsReportedAsNotOpened) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string path = dir.file("config.yaml");
  writeFile(path, "{\"a\": 1}");
  ::chmod(path.c_str(), 0644);
  const auto readsAsNobody = [&] {
    return vantorel_test::runInChild([&]() -> std::string {
      if (!vantorel_test::becomeNobody()) {
        return "skip: cannot switch to nobody";
      }
      return readAsJson(path).describe() + "\n" +
             withLogCutAfter(readAsYaml(path), "readYaml: cannot open YAML file: " + path + " - ")
                 .describe();
    });
  };
  const std::string before = readsAsNobody();
  if (before.rfind("skip: ", 0) == 0) {
    GTEST_SKIP() << before;
  }
  const std::string readable = json{{"a", 1}}.dump() + " |  | ";
  EXPECT_EQ(before, readable + "\n" + readable);
  ::chmod(path.c_str(), 0);
  const Expected refused = cannotOpen(path);
  EXPECT_EQ(readsAsNobody(),
            refused.json_reader.describe() + "\n" + refused.yaml_reader.describe());
}

// Opening a FIFO for reading waits for a writer, and for writing waits for a reader.
TEST(ReadFaults, PipesAreRefusedAtOnce) {
  ::alarm(30);  // a call that waits ends the test instead of hanging it
  TempDir dir;
  const std::string pipe = dir.file("pipe.json");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(
      readAsJson(pipe).describe(),
      (ReadOutcome{json::object(), "", "Failed to read JSON file " + pipe + ": not a regular file"})
          .describe());
  EXPECT_EQ(withLogCutAfter(readAsYaml(pipe), "readYaml: cannot open YAML file: " + pipe + " - ")
                .describe(),
            cannotOpen(pipe).yaml_reader.describe());
  LogCapture capture;
  EXPECT_FALSE(vbu::trySaveJson(json{1}, pipe, -1, kLogger));
  EXPECT_EQ(onlyErrorText(capture), "Failed to open file for writing: " + pipe);
  ::alarm(0);
}
