// SPDX-License-Identifier: Apache-2.0
// Interruptions lose nothing: a stop signal ends a sequence cleanly, and a kill at any step
// of writing a set leaves the old set or the new one once the next run has repaired the
// folder, with no staging folder left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "output_folder.hpp"
#include "support/temp_dir.hpp"
#include "tools/frame_points/tool_run.hpp"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const kSetNames[] = {"points.json", "points.ply", "points.pcd", "overlay.png",
                                 "organized.pcd"};

// The files of a set by name; a name the folder does not hold is absent.
std::map<std::string, std::string> setIn(const fs::path& dir) {
  std::map<std::string, std::string> set;
  for (const char* name : kSetNames) {
    if (fs::exists(dir / name)) {
      set[name] = vantorel_test::readFile((dir / name).string());
    }
  }
  return set;
}

std::string killAt(long step) {
  return "VANTOREL_FRAME_POINTS_EXIT_AT_STEP=" + std::to_string(step);
}

// Kills the run that replaces the `from` set by the `to` set at every step in turn; after
// each, the next run into the folder, one that fails on its input, must leave exactly one of
// the two sets. Returns the number of steps a whole run has.
long killAtEveryStep(const vantorel_test::TempDir& dir, const std::string& from,
                     const std::string& to) {
  const std::string inputs = vantorel_test::sampleInputs() + " --output ";
  const auto reference = [&](const std::string& options, const std::string& name) {
    const auto run = vantorel_test::runFrameTool(dir, inputs + dir.file(name) + " " + options);
    EXPECT_EQ(run.status, 0) << run.err;
    return setIn(dir.path() / name);
  };
  const auto old_set = reference(from, "old");
  const auto new_set = reference(to, "new");
  const fs::path out = dir.path() / "out";
  for (long step = 1;; ++step) {
    fs::remove_all(out);
    EXPECT_EQ(vantorel_test::runFrameTool(dir, inputs + out.string() + " " + from).status, 0);
    const auto killed =
        vantorel_test::runFrameTool(dir, inputs + out.string() + " " + to, killAt(step));
    if (killed.status == 0) {
      EXPECT_EQ(setIn(out), new_set);
      return step - 1;
    }
    EXPECT_EQ(killed.status, vantorel_tools::kStepExitStatus) << killed.err;
    const auto next = vantorel_test::runFrameTool(
        dir, inputs + out.string() + " --detections " + dir.file("missing.json"));
    EXPECT_EQ(next.status, 1) << next.err;
    const auto left = setIn(out);
    EXPECT_TRUE(left == old_set || left == new_set) << "a mixed set after a kill at step " << step;
    EXPECT_TRUE(vantorel_test::stagingLeftIn(out).empty()) << "at step " << step;
  }
}

}  // namespace

TEST(Interruptions, AKillAtAnyStepOfACommitLeavesTheOldSetOrTheNew) {
  vantorel_test::TempDir dir;
  // One way a file joins the set, the other way one is retired from it.
  const long adding = killAtEveryStep(dir, "--frame map", "--frame arm_base --organized");
  const long retiring = killAtEveryStep(dir, "--frame arm_base --organized", "--frame map");
  EXPECT_GE(adding, 15);  // staging, five files staged, five kept, the journal, five moved
  EXPECT_GE(retiring, 13);
}

TEST(Interruptions, AStopSignalEndsASequenceWithWholeSetsAndNoStaging) {
  for (const int signal : {SIGINT, SIGTERM}) {
    vantorel_test::TempDir dir;
    const fs::path seq = dir.path() / "seq";
    fs::create_directories(seq);
    for (int k = 0; k < 200; ++k) {
      fs::create_directory_symlink(VANTOREL_SAMPLE_DIR_SOURCE,
                                   seq / ("f" + std::to_string(1000 + k)));
    }
    const fs::path out = dir.path() / "out";
    const std::string err = dir.file("err.txt");
    const std::string command = std::string("exec ") + VANTOREL_FRAME_POINTS_EXE +
                                " --jobs 2 --sequence " + seq.string() + " --output " +
                                out.string() + " >" + dir.file("out.txt") + " 2>" + err;
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    // With the signal's default action, even where the test itself was started ignoring it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    ASSERT_EQ(spawned, 0);
    // Stopped once a few frames are written, well before all of them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(out / "f1003" / "points.json") &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(::kill(pid, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << vantorel_test::readFile(err);
    std::size_t written = 0;
    for (const auto& frame : fs::directory_iterator(out)) {
      EXPECT_TRUE(vantorel_test::stagingLeftIn(frame.path()).empty()) << frame.path();
      const auto set = setIn(frame.path());
      EXPECT_EQ(set.size(), 4U) << frame.path() << " holds a partial set";
      ++written;
    }
    EXPECT_LT(written, 200U) << "frames were started after the signal";
    const std::string summary = vantorel_test::readFile(dir.file("out.txt"));
    EXPECT_NE(summary.find(" not run (stopped by SIG"), std::string::npos) << summary;
  }
}
