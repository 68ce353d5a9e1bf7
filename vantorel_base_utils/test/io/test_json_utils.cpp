// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "support/child_process.hpp"
#include "support/log_capture.hpp"
#include "support/starts_with.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/json_utils.hpp"

namespace vbu = vantorel_base_utils;
namespace fs = std::filesystem;
using nlohmann::json;
using vantorel_test::LogCapture;
using vantorel_test::readFile;
using vantorel_test::runInChild;
using vantorel_test::startsWith;
using vantorel_test::TempDir;
using vantorel_test::writeFile;

namespace {

const rclcpp::Logger kLogger = rclcpp::get_logger("json_test");

std::size_t entriesIn(const fs::path& directory) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

// The text of the one record logged, when it has the given severity.
std::string onlyRecord(const LogCapture& capture, int severity) {
  const auto records = capture.records();
  if (records.size() != 1 || records[0].severity != severity) {
    return "<" + std::to_string(records.size()) + " records>";
  }
  return records[0].text;
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
  const std::string nested = dir.file("out/sub/compact.json");
  vbu::saveJson(doc, nested, -1, kLogger);
  EXPECT_EQ(readFile(nested), "{\"a\":null,\"b\":[1,\"é\"]}");
  EXPECT_EQ(capture.count(RCUTILS_LOG_SEVERITY_DEBUG, "Saved JSON: " + nested), 1);
  EXPECT_EQ(capture.records().size(), 3u);
  EXPECT_EQ(entriesIn(dir.path()), 3u);  // no temporary files left behind

  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  vbu::saveJson(json::array(), "bare.json", -1, kLogger);
  fs::current_path(previous);
  EXPECT_EQ(readFile(dir.file("bare.json")), "[]");
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

  // A link whose file does not exist yet creates that file, as opening the path would.
  fs::create_directory(dir.file("sub"));
  fs::create_symlink("sub/new.json", dir.file("relative.json"));
  fs::create_symlink(dir.file("sub/other.json"), dir.file("absolute.json"));
  EXPECT_TRUE(vbu::trySaveJson(json{3}, dir.file("relative.json"), -1, kLogger));
  EXPECT_TRUE(vbu::trySaveJson(json{4}, dir.file("absolute.json"), -1, kLogger));
  EXPECT_TRUE(fs::is_symlink(dir.file("relative.json")) &&
              fs::is_symlink(dir.file("absolute.json")));
  EXPECT_EQ(readFile(dir.file("sub/new.json")), "[3]");
  EXPECT_EQ(readFile(dir.file("sub/other.json")), "[4]");
}

TEST(SaveJson, FailuresAreLoggedAndTouchNothing) {
  TempDir dir;
  const std::string good = dir.file("good.json");
  writeFile(good, "{\"good\": true}");
  fs::create_directory(dir.file("a_directory"));
  const json invalid_utf8 = {{"name", std::string("bad \xff byte")}};
  const std::string under_a_file = good + "/x.json";
  {
    LogCapture capture;
    vbu::saveJson(invalid_utf8, good, 2, kLogger);
    EXPECT_TRUE(startsWith(onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
                           "Failed to save JSON " + good + ": "));
  }
  {
    LogCapture capture;
    EXPECT_FALSE(vbu::trySaveJson(json{1}, dir.file("a_directory"), 2, kLogger));
    EXPECT_EQ(onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
              "Failed to open file for writing: " + dir.file("a_directory"));
  }
  {
    LogCapture capture;
    EXPECT_FALSE(vbu::trySaveJson(json{1}, under_a_file, 2, kLogger));
    EXPECT_TRUE(startsWith(onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
                           "Failed to save JSON " + under_a_file + ": "));
  }
  {
    LogCapture capture;
    vbu::saveJson(invalid_utf8, dir.file("fresh.json"), 2, kLogger);  // creates no file
  }
  EXPECT_EQ(readFile(good), "{\"good\": true}");
  EXPECT_TRUE(fs::is_empty(dir.file("a_directory")));
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

  const std::string failure = runInChild([&]() -> std::string {
    ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead of killing
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    LogCapture capture;
    vbu::saveJson(big, target, 2, kLogger);
    const std::string expected = "Failed to save JSON " + target + ": cannot write: File too large";
    const std::string logged = onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR);
    return logged == expected ? "" : "logged: " + logged;
  });
  EXPECT_EQ(failure, "");
  EXPECT_EQ(readFile(target), previous);
  EXPECT_EQ(entriesIn(dir.path()), 1u);

  vbu::saveJson(big, target, 2, kLogger);  // without the limit it is written in full
  EXPECT_EQ(vbu::readJson(target, kLogger), big);
}

namespace {

json bigDocument() {
  json big = json::array();
  for (int i = 0; i < 40000; ++i) {
    big.push_back(i);
  }
  return big;
}

// In a child: `where` becomes a small tmpfs of its own mount namespace. Returns why that is
// not possible here, or "" once mounted.
std::string mountSmallTmpfs(const std::string& where) {
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=64k") != 0) {
    return std::string("skip: no private tmpfs here: ") + std::strerror(errno);
  }
  return "";
}

// Collects what differs from what a fault should leave behind.
class Findings {
 public:
  void expect(bool holds, const std::string& what) {
    if (!holds) {
      text_ += what + "; ";
    }
  }
  void expectLogged(const LogCapture& capture, const std::string& message) {
    const std::string logged = onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR);
    expect(logged == message, "logged \"" + logged + "\" instead of \"" + message + "\"");
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

void expectCleanOrSkip(const std::string& child_report) {
  if (child_report.rfind("skip: ", 0) == 0) {
    GTEST_SKIP() << child_report;
  }
  EXPECT_EQ(child_report, "");
}

}  // namespace

TEST(SaveJson, FullOrReadOnlyFilesystemKeepsThePreviousFile) {
  TempDir dir;
  const std::string mount_point = dir.file("fs");
  fs::create_directory(mount_point);
  expectCleanOrSkip(runInChild([&]() -> std::string {
    const std::string skip = mountSmallTmpfs(mount_point);
    if (!skip.empty()) {
      return skip;
    }
    const std::string target = mount_point + "/poses.json";
    const std::string previous = "{\"previous\": \"good\"}";
    writeFile(target, previous);
    Findings findings;
    {
      LogCapture capture;
      vbu::saveJson(bigDocument(), target, 2, kLogger);
      findings.expectLogged(
          capture, "Failed to save JSON " + target + ": cannot write: No space left on device");
    }
    findings.expect(readFile(target) == previous, "full: previous file changed");
    findings.expect(entriesIn(mount_point) == 1, "full: temporary file left behind");
    vbu::saveJson(json{1}, target, -1, kLogger);  // the space of the failed attempt is back
    findings.expect(readFile(target) == "[1]", "small document not written after the failure");

    ::mount(nullptr, mount_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    {
      LogCapture capture;
      vbu::saveJson(json{2}, target, -1, kLogger);
      findings.expectLogged(capture, "Failed to open file for writing: " + target);
    }
    {
      LogCapture capture;
      vbu::saveJson(json{2}, mount_point + "/new.json", -1, kLogger);
      findings.expectLogged(capture,
                            "Failed to open file for writing: " + mount_point + "/new.json");
    }
    findings.expect(readFile(target) == "[1]", "read-only: file changed");
    findings.expect(entriesIn(mount_point) == 1, "read-only: entries added");
    return findings.text();
  }));
}

// Permission bits bind only an unprivileged user, so these run as "nobody" in a child.
TEST(SaveJson, UnprivilegedWritesKeepWhatTheyMayNotChangeAndRewriteWhatTheyMay) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);  // root's directory: nobody may not add entries
  const std::string locked = dir.file("locked.json");
  const std::string shared = dir.file("shared.json");
  writeFile(locked, "[\"locked\"]");
  writeFile(shared, "[\"shared\"]");
  ::chmod(locked.c_str(), 0644);
  ::chmod(shared.c_str(), 0666);
  const std::string child_report = runInChild([&]() -> std::string {
    if (!vantorel_test::becomeNobody()) {
      return "skip: cannot switch to nobody";
    }
    Findings findings;
    LogCapture capture;
    vbu::saveJson(json{1}, locked, -1, kLogger);
    findings.expectLogged(capture, "Failed to open file for writing: " + locked);
    capture.clear();
    vbu::saveJson(json{2}, shared, -1, kLogger);  // no temporary beside it, so in place
    findings.expect(capture.count(RCUTILS_LOG_SEVERITY_DEBUG, "Saved JSON: " + shared) == 1,
                    "no success message for the writable file");
    return findings.text();
  });
  expectCleanOrSkip(child_report);
  EXPECT_EQ(readFile(locked), "[\"locked\"]");
  EXPECT_EQ(readFile(shared), "[2]");
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(SaveJson, ReplacingAFileKeepsItsOwner) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "handing a file to another owner needs root";
  }
  TempDir dir;
  const std::string target = dir.file("theirs.json");
  writeFile(target, "[]");
  ASSERT_EQ(::chown(target.c_str(), vantorel_test::kNobodyId, vantorel_test::kNobodyId), 0);
  vbu::saveJson(json{3}, target, -1, kLogger);
  struct stat after {};
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, vantorel_test::kNobodyId);
  EXPECT_EQ(after.st_gid, vantorel_test::kNobodyId);
  EXPECT_EQ(readFile(target), "[3]");
}

TEST(ReadJson, ReturnsTheFirstValueOrLogsAndReturnsAnEmptyObject) {
  TempDir dir;
  const std::string missing = dir.file("missing.json");
  struct Case {
    std::string content;
    json expected;
    bool logs_parse_error;  // otherwise the read succeeds silently
  };
  const Case cases[] = {
      {"[1, \"two\"]", json::parse("[1, \"two\"]"), false},
      {"{\"a\": 1} and further words", json{{"a", 1}}, false},
      {"null", json(), false},
      {"", json::object(), true},
      {"// note\n{}", json::object(), true},
  };
  const std::string path = dir.file("in.json");
  for (const Case& c : cases) {
    writeFile(path, c.content);
    LogCapture capture;
    EXPECT_EQ(vbu::readJson(path, kLogger), c.expected) << c.content;
    if (!c.logs_parse_error) {
      EXPECT_TRUE(capture.records().empty());
    } else {
      EXPECT_TRUE(startsWith(onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
                             "Failed to read JSON file " + path + ": "));
    }
  }
  LogCapture capture;
  EXPECT_EQ(vbu::readJson(missing, kLogger), json::object());
  EXPECT_EQ(onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR),
            "Failed to open JSON file: " + missing);
}

namespace {

json nestedArrays(std::size_t depth) {
  return json::parse(std::string(depth, '[') + std::string(depth, ']'));
}

}  // namespace

// The JSON library serialises, copies and compares recursively.
TEST(SaveJson, DocumentsNestedBeyondTheLimitAreRefusedWithoutCrashing) {
  TempDir dir;
  const std::string path = dir.file("deep.json");
  EXPECT_EQ(runInChild([&]() -> std::string {
              LogCapture capture;
              const bool saved = vbu::trySaveJson(nestedArrays(100000), path, -1, kLogger);
              const std::string logged = onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR);
              return saved ? "saved" : logged;
            }),
            "Failed to save JSON " + path + ": nested deeper than 1000 levels");
  EXPECT_FALSE(fs::exists(path));

  const json deepest = nestedArrays(vbu::kJsonMaxDepth);
  EXPECT_TRUE(vbu::trySaveJson(deepest, path, 1, kLogger));
  EXPECT_EQ(vbu::readJson(path, kLogger), deepest);
}

TEST(ReadJson, NestingBeyondTheLimitIsRefusedBeforeAnythingIsBuilt) {
  TempDir dir;
  const std::string path = dir.file("in.json");
  const std::string too_deep =
      "Failed to read JSON file " + path + ": nested deeper than 1000 levels";
  const auto readLogging = [&](const std::string& content) {
    writeFile(path, content);
    LogCapture capture;
    const json document = vbu::readJson(path, kLogger);
    return std::make_pair(document, onlyRecord(capture, RCUTILS_LOG_SEVERITY_ERROR));
  };
  EXPECT_EQ(readLogging(std::string(10'000'000, '[')), std::make_pair(json::object(), too_deep));
  EXPECT_EQ(
      readLogging(" {\"a\": " + std::string(1000, '[') + "1" + std::string(1000, ']') + "}").second,
      too_deep);
  // Brackets in strings do not nest, an escaped quote does not end a string, and what comes
  // after the first value is not read.
  const std::string brackets = "[\"[[[\\\"[[[\"]";
  json expected = json::array({"[[[\"[[["});
  for (int level = 1; level < 1000; ++level) {
    expected = json::array({expected});
  }
  EXPECT_EQ(readLogging(std::string(999, '[') + brackets + std::string(999, ']') + " " +
                        std::string(5000, '[')),
            std::make_pair(expected, std::string("<0 records>")));
}
