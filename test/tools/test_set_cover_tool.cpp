#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

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

std::pair<int, std::string> runTool(const std::string& instance_text, const std::string& args) {
  const fs::path dir = fs::temp_directory_path() / ("vantorel_sc_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "instance.txt") << instance_text;
  const std::string command = std::string(VANTOREL_SET_COVER_EXE) + " " + args + " " +
                              (dir / "instance.txt").string() + " >" + (dir / "out.txt").string() +
                              " 2>&1";
  const int status = std::system(command.c_str());
  std::stringstream out;
  out << std::ifstream(dir / "out.txt").rdbuf();
  fs::remove_all(dir);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.str()};
}

}  // namespace

TEST(SetCoverInstance, ReadsBothFormats) {
  const auto from_json = vantorel_tools::parseSetCoverInstance(R"({"1":[1,2],"4":[2,3]})");
  ASSERT_TRUE(std::holds_alternative<IntInstance>(from_json));
  EXPECT_EQ(std::get<IntInstance>(from_json), (IntInstance{{1, {1, 2}}, {4, {2, 3}}}));

  const auto strings = vantorel_tools::parseSetCoverInstance(R"({"0":["a","b"],"2":["b"]})");
  ASSERT_TRUE(std::holds_alternative<vantorel_tools::StringInstance>(strings));

  const auto orlib = vantorel_tools::parseSetCoverInstance("3 2\n1 1\n1 1\n2 1 2\n1 2\n");
  EXPECT_EQ(std::get<IntInstance>(orlib), (IntInstance{{1, {1, 2}}, {2, {2, 3}}}));

  EXPECT_THROW(vantorel_tools::parseSetCoverInstance(R"({"-1":[1]})"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance(R"({"1":3})"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance("2 2\n1 1\n1 3\n"), std::runtime_error);
  EXPECT_THROW(vantorel_tools::parseSetCoverInstance("2 2\n1 1\n1"), std::runtime_error);
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
}
