// SPDX-License-Identifier: Apache-2.0
// Runs vantorel_frame_points as a user would, through a shell, for the tests of the tool's
// behaviour as a process: budgets under an address-space limit, signals, kills, messages.
#ifndef VANTOREL_BASE_UTILS__TEST__TOOLS__FRAME_POINTS__TOOL_RUN_HPP_
#define VANTOREL_BASE_UTILS__TEST__TOOLS__FRAME_POINTS__TOOL_RUN_HPP_

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace vantorel_test {

struct ToolRun {
  int status = -1;  // the exit status, or 128 + the signal that ended it, as a shell says
  std::string out;
  std::string err;
};

// `prefix` runs in the same shell first: environment assignments, or `ulimit -v KB;`, which
// sets RLIMIT_AS for the tool alone, so that a regression fails instead of swapping. A tool
// that hangs is stopped after two minutes.
inline ToolRun runFrameTool(const TempDir& dir, const std::string& args,
                            const std::string& prefix = "") {
  const std::string out = dir.file("tool_stdout.txt");
  const std::string err = dir.file("tool_stderr.txt");
  const std::string command = prefix + " exec timeout 120 " + VANTOREL_FRAME_POINTS_EXE + " " +
                              args + " >" + out + " 2>" + err + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

inline std::string sampleInputs() {
  return std::string("--sample-dir ") + VANTOREL_SAMPLE_DIR_SOURCE;
}

// Staging folders a run left in `dir`.
inline std::vector<std::string> stagingLeftIn(const std::filesystem::path& dir) {
  std::vector<std::string> left;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(".vantorel_frame_points.", 0) == 0 && name != ".vantorel_frame_points.lock") {
      left.push_back(name);
    }
  }
  return left;
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__TOOLS__FRAME_POINTS__TOOL_RUN_HPP_
