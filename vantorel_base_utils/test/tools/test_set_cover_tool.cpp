// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "optimization/set_cover_instances.hpp"
#include "set_cover_instance.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace fs = std::filesystem;
using vantorel_tools::IntInstance;

namespace {

// Cyclic instance: element i is covered by candidates i, i-1, ..., i-k+1 (mod n); its
// optimum is ceil(n / k).
std::string cyclicOrLibrary(int n, int k) {
  std::ostringstream text;
  text << n << ' ' << n << '\n';
  for (int j = 0; j < n; ++j) {
    text << "1 ";
  }
  text << '\n';
  for (int row = 0; row < n; ++row) {
    text << k;
    for (int d = 0; d < k; ++d) {
      text << ' ' << ((row - d + n) % n) + 1;
    }
    text << '\n';
  }
  return text.str();
}

fs::path scratchDir() {
  const fs::path dir = fs::temp_directory_path() / ("vantorel_sc_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

// Runs the tool on `input` (a path) and returns its exit status (-1 when a signal ended it)
// and its output, both streams.
std::pair<int, std::string> runToolOn(const std::string& input, const std::string& args) {
  const fs::path out_path = scratchDir() / "out.txt";
  const std::string command = std::string(VANTOREL_SET_COVER_EXE) + " " + args + " " + input +
                              " >" + out_path.string() + " 2>&1";
  const int status = std::system(command.c_str());
  std::stringstream out;
  out << std::ifstream(out_path).rdbuf();
  fs::remove(out_path);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.str()};
}

std::pair<int, std::string> runTool(const std::string& instance_text, const std::string& args) {
  const fs::path dir = scratchDir();
  std::ofstream(dir / "instance.txt") << instance_text;
  auto result = runToolOn((dir / "instance.txt").string(), args);
  fs::remove_all(dir);
  return result;
}

std::string jsonOf(const IntInstance& instance) {
  std::ostringstream text;
  const char* separator = "{";
  for (const auto& [id, elements] : instance) {
    text << separator << '"' << id << "\": [";
    separator = ", ";
    const char* comma = "";
    for (const int e : elements) {
      text << comma << e;
      comma = ", ";
    }
    text << ']';
  }
  text << '}';
  return text.str();
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SetCoverInstance, ReadsBothFormats) {
  const auto from_json = vantorel_tools::parseSetCoverInstance(R"({"1":[1,2],"4":[2,3]})").instance;
  ASSERT_TRUE(std::holds_alternative<IntInstance>(from_json));
  EXPECT_EQ(std::get<IntInstance>(from_json), (IntInstance{{1, {1, 2}}, {4, {2, 3}}}));

  const auto strings =
      vantorel_tools::parseSetCoverInstance(R"({"0":["a","b\"]"],"2":["b"]})").instance;
  ASSERT_TRUE(std::holds_alternative<vantorel_tools::StringInstance>(strings));

  const auto orlib = vantorel_tools::parseSetCoverInstance("3 2\n1 1\n1 1\n2 1 2\n1 2\n");
  EXPECT_EQ(std::get<IntInstance>(orlib.instance), (IntInstance{{1, {1, 2}}, {2, {2, 3}}}));
  // The library's own layout: leading blanks, lists wrapped over lines.
  const auto wrapped =
      vantorel_tools::parseSetCoverInstance(" 2 3 \n 1 1\n 1 \n 2\n 1\n 3\n 1 2 \n");
  EXPECT_EQ(std::get<IntInstance>(wrapped.instance), (IntInstance{{1, {1}}, {2, {2}}, {3, {1}}}));

  EXPECT_THROW(vantorel_tools::parseSetCoverInstance(R"({"-1":[1]})"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance(R"({"1":3})"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance("2 2\n1 1\n1 3\n"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance("2 2\n1 1\n1"), std::runtime_error);
}

// Each spelling of an id other than the plain one would merge two of the file's candidates
// into one, and the tool would then check a cover that the file's candidates do not make.
TEST(SetCoverInstance, CandidateIdsAreReadStrictlyAndOnce) {
  for (const char* key : {"01", "+1", " 1", "1 ", "-0", "1.0", "1e0", "", "2147483648"}) {
    const std::string text = std::string(R"({"1": [1, 2], ")") + key + R"(": [3]})";
    try {
      vantorel_tools::parseSetCoverInstance(text);
      ADD_FAILURE() << "accepted \"" << key << "\"";
    } catch (const std::runtime_error& e) {
      EXPECT_TRUE(contains(e.what(), std::string("candidate id \"") + key + "\"")) << e.what();
    }
  }
  EXPECT_EQ(std::get<IntInstance>(
                vantorel_tools::parseSetCoverInstance(R"({"0": [1], "2147483647": [2]})").instance),
            (IntInstance{{0, {1}}, {2147483647, {2}}}));

  const auto [twice_status, twice_out] = runTool(R"({"1": [1], "2": [2], "1": [2]})", "");
  EXPECT_EQ(twice_status, 1) << twice_out;
  EXPECT_TRUE(contains(twice_out, "instance.txt: candidate id \"1\" appears twice")) << twice_out;

  // The number 1 and the string "1" are two elements: candidate 1 alone covers no cover.
  const auto [mixed_status, mixed_out] = runTool(R"({"1": [1, "a"], "2": ["1"]})", "");
  EXPECT_EQ(mixed_status, 0) << mixed_out;
  EXPECT_TRUE(contains(mixed_out, "selected: 1 2\n")) << mixed_out;
}

// An option that the method would ignore is refused rather than silently dropped.
TEST(SetCoverTool, RefusesOptionsTheMethodDoesNotUse) {
  for (const char* args : {"--time-limit 1", "--method greedy --time-limit 1",
                           "--method propagate --prefer-nearby", "--prefer-nearby --method ilp"}) {
    const auto [status, out] = runTool(R"({"1": [1]})", args);
    EXPECT_EQ(status, 2) << args;
    EXPECT_TRUE(contains(out, "applies to")) << args << ": " << out;
  }
}

TEST(SetCoverTool, ExactMethodsReachKnownOptima) {
  for (const auto& [n, k] : {std::pair{10, 3}, std::pair{12, 4}, std::pair{13, 5}}) {
    const int optimum = (n + k - 1) / k;
    for (const char* method : {"propagate", "ilp"}) {
      const auto [status, out] = runTool(cyclicOrLibrary(n, k), std::string("--method ") + method);
      EXPECT_EQ(status, 0) << out;
      EXPECT_NE(out.find("cover size: " + std::to_string(optimum) + "\n"), std::string::npos)
          << method << " on C(" << n << "," << k << "): " << out;
      EXPECT_NE(out.find("cover check: ok"), std::string::npos) << out;
    }
  }
  const auto [status, out] = runTool(cyclicOrLibrary(10, 3), "--method greedy --prefer-nearby");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("cover check: ok"), std::string::npos) << out;
}

TEST(SetCoverTool, RejectsBadInstances) {
  EXPECT_EQ(runTool("{\"1\": [", "").first, 1);
  EXPECT_EQ(runTool("{}", "--method nonsense").first, 2);
  for (const char* limit : {"0", "-1", "nan", "inf", "1s"}) {
    EXPECT_EQ(runTool("{}", std::string("--method ilp --time-limit ") + limit).first, 2) << limit;
  }
}

// An element no column covers leaves the instance without a cover; costs other than 1 ask
// for another objective than the one solved.
TEST(SetCoverTool, RefusesInstancesWithoutACoverOrWithCosts) {
  const auto [uncovered_status, uncovered_out] = runTool("3 2\n1 1\n1 1\n0\n1 2\n", "");
  EXPECT_EQ(uncovered_status, 1) << uncovered_out;
  EXPECT_TRUE(contains(uncovered_out, "row 2 is covered by no column")) << uncovered_out;

  const std::string weighted = "2 2\n3 1\n1 1\n1 2\n";
  const auto [costs_status, costs_out] = runTool(weighted, "--method propagate");
  EXPECT_EQ(costs_status, 1) << costs_out;
  EXPECT_TRUE(contains(costs_out, "column 1 costs 3")) << costs_out;
  EXPECT_TRUE(contains(costs_out, "--ignore-costs")) << costs_out;
  const auto [ignored_status, ignored_out] = runTool(weighted, "--method propagate --ignore-costs");
  EXPECT_EQ(ignored_status, 0) << ignored_out;
  EXPECT_TRUE(contains(ignored_out, "costs other than 1 ignored")) << ignored_out;
  EXPECT_TRUE(contains(ignored_out, "cover size: 2\n")) << ignored_out;
}

// Inputs that crashed the tool or could hang it or exhaust its memory are refused, naming
// the file.
TEST(SetCoverTool, RefusesInputsThatWouldCrashOrHangIt) {
  const std::string deep = "{\"1\": [" + std::string(80000, '[') + std::string(80000, ']') + "]}";
  const auto [deep_status, deep_out] = runTool(deep, "");
  EXPECT_EQ(deep_status, 1) << deep_out;
  EXPECT_TRUE(contains(deep_out, "instance.txt: JSON instance nested deeper")) << deep_out;

  const fs::path dir = scratchDir();
  const auto [folder_status, folder_out] = runToolOn(dir.string(), "");
  EXPECT_EQ(folder_status, 1);
  EXPECT_TRUE(contains(folder_out, dir.string() + ": not a regular file")) << folder_out;

  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path huge = dir / "huge.txt";
  std::ofstream(huge).close();
  fs::resize_file(huge, vantorel_tools::kMaxInstanceBytes + 1);  // sparse, no disk used
  for (const fs::path& input : {fifo, fs::path("/dev/zero"), huge}) {
    EXPECT_THROW(vantorel_tools::readInstanceFile(input.string()), std::runtime_error) << input;
  }
  fs::remove_all(dir);
}

// The 4-cycles of the 6-cube need 60 edges, as greedy's cover has, and no method proves that
// within 0.2 s; GLPK's own covers by then are larger. Both keep the greedy cover and say so.
TEST(SetCoverTool, HelpAndTimeLimitWithTheBoundReached) {
  const auto [help_status, help_out] = runToolOn("", "--help");
  EXPECT_EQ(help_status, 0);
  EXPECT_EQ(help_out.rfind("usage: vantorel_set_cover", 0), 0u) << help_out;

  const std::string cycles = jsonOf(set_cover_instances::hypercubeCycles(6));
  for (const char* method : {"propagate", "ilp"}) {
    const auto [status, out] = runTool(cycles, std::string("--time-limit 0.2 --method ") + method);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(contains(out, "cover size: 60\n")) << out;
    EXPECT_TRUE(contains(out, "proven minimal: no")) << out;
    EXPECT_TRUE(contains(out, "time limit reached: yes\ncover from: greedy start\n")) << out;
    EXPECT_TRUE(contains(out, "nodes: ")) << out;
    const auto bound_at = out.find("lower bound: ");
    ASSERT_NE(bound_at, std::string::npos) << out;
    EXPECT_LE(std::stoi(out.substr(bound_at + 13)), 60) << out;
  }
}

// The OR-Library files as published (wrapped rows, trailing blanks) load as they are; the
// weighted one is refused for its costs unless they are to be ignored.
TEST(SetCoverTool, ReadsTheOrLibraryFiles) {
  const std::string dir = VANTOREL_ORLIB_DIR;
  for (const char* name : {"scpcyc06.txt", "scpclr10.txt"}) {
    const auto [status, out] = runToolOn(dir + "/" + name, "--method greedy");
    EXPECT_EQ(status, 0) << name << ": " << out;
    EXPECT_TRUE(contains(out, "cover check: ok")) << name << ": " << out;
  }
  EXPECT_EQ(runToolOn(dir + "/scp41.txt", "--method greedy").first, 1);
  const auto [status, out] = runToolOn(dir + "/scp41.txt", "--method greedy --ignore-costs");
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(contains(out, "cover check: ok")) << out;
}
