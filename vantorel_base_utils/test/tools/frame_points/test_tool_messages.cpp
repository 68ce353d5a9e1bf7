// SPDX-License-Identifier: Apache-2.0
// What the tool tells a user: no silent fallback to the bundled sample, one line of its own
// for a failure (no library's text before or in it), names from the file system escaped,
// and how many mask pixels had no depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "printable_text.hpp"
#include "support/temp_dir.hpp"
#include "tools/frame_points/tool_run.hpp"

namespace fs = std::filesystem;
using vantorel_tools::printable;

namespace {

const fs::path kSample = VANTOREL_SAMPLE_DIR_SOURCE;

std::string fileOption(const std::string& flag, const std::string& name) {
  return " " + flag + " " + (kSample / name).string();
}

}  // namespace

TEST(ToolMessages, APartialSetOfInputsIsRefusedNamingEveryMissingOne) {
  vantorel_test::TempDir dir;
  const auto depth_only = vantorel_test::runFrameTool(dir, fileOption("--depth", "depth.png"));
  EXPECT_EQ(depth_only.status, 2);
  EXPECT_EQ(depth_only.err.rfind(
                "vantorel_frame_points: missing --detections, --camera, --camera-to-arm-base, "
                "--arm-base-to-map: ",
                0),
            0U)
      << depth_only.err;
  const auto no_transforms = vantorel_test::runFrameTool(
      dir, fileOption("--detections", "detections.json") + fileOption("--depth", "depth.png") +
               fileOption("--camera", "camera.yaml") + " --output " + dir.file("out"));
  EXPECT_EQ(no_transforms.status, 2);
  EXPECT_NE(no_transforms.err.find("missing --camera-to-arm-base, --arm-base-to-map: "),
            std::string::npos)
      << no_transforms.err;
  EXPECT_FALSE(fs::exists(dir.file("out")));
}

TEST(ToolMessages, FailuresAreOneLineOfTheToolsOwn) {
  vantorel_test::TempDir dir;
  vantorel_test::writeFile(dir.file("file"), "");
  const auto folder = vantorel_test::runFrameTool(
      dir, vantorel_test::sampleInputs() + " --output " + dir.file("file") + "/out");
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "vantorel_frame_points: " + dir.file("file") +
                            "/out: cannot create the output folder: Not a directory\n");
  // The library logs its own ERROR line for this; the tool's line is the only one shown.
  vantorel_test::writeFile(dir.file("broken.json"), "{\"cls_list\": [");
  const auto json = vantorel_test::runFrameTool(
      dir, vantorel_test::sampleInputs() + " --detections " + dir.file("broken.json"));
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, "vantorel_frame_points: " + dir.file("broken.json") +
                          ": not valid JSON (at byte 15)\n");
}

TEST(ToolMessages, NamesFromTheFileSystemAreEscaped) {
  EXPECT_EQ(vantorel_tools::printable("a\nb\tc\x1b[31m\x7f\xc2\x9b\xc3\xa9"),
            "a\\nb\\tc\\x1b[31m\\x7f\\xc2\\x9b\xc3\xa9");
  vantorel_test::TempDir dir;
  const fs::path seq = dir.path() / "seq";
  fs::create_directories(seq / "broken\n\x1b[2J");
  vantorel_test::writeFile((seq / "broken\n\x1b[2J" / "detections.json").string(), "{}");
  fs::create_directory_symlink(kSample, seq / "good\rframe");
  const auto run = vantorel_test::runFrameTool(
      dir, "--sequence " + seq.string() + " --output " + dir.file("out"));
  EXPECT_EQ(run.status, 1);
  for (const std::string& text : {run.out, run.err}) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
  }
  EXPECT_NE(run.out.find("\ngood\\rframe "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nbroken\\n\\x1b[2J "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("frame broken\\n\\x1b[2J failed: "), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;  // 2 progress, 1 error
}

TEST(ToolMessages, ALogLineNeverLandsInTheProgressLine) {
  if (std::system("command -v script >/dev/null") != 0) {
    GTEST_SKIP() << "no script(1) to give the tool a terminal";
  }
  vantorel_test::TempDir dir;
  // Two frames whose cameras have distortion, which the tool warns about once each.
  std::string camera = vantorel_test::readFile((kSample / "camera.yaml").string());
  camera.replace(camera.find("data: [0, 0, 0, 0, 0]"), 21, "data: [0.1, 0, 0, 0, 0]");
  for (const char* frame : {"a", "b"}) {
    const fs::path folder = dir.path() / "seq" / frame;
    fs::create_directories(folder);
    for (const auto& file : fs::directory_iterator(kSample)) {
      fs::copy(file.path(), folder / file.path().filename());
    }
    vantorel_test::writeFile((folder / "camera.yaml").string(), camera);
  }
  const std::string tool = std::string(VANTOREL_FRAME_POINTS_EXE) + " --jobs 1 --sequence " +
                           dir.file("seq") + " --output " + dir.file("out");
  const std::string typescript = dir.file("terminal.txt");
  ASSERT_EQ(std::system(("RCUTILS_COLORIZED_OUTPUT=0 script -qec '" + tool + "' /dev/null >" +
                         typescript + " 2>&1 </dev/null")
                            .c_str()),
            0);
  const std::string terminal = vantorel_test::readFile(typescript);
  std::size_t warnings = 0;
  for (std::size_t at = terminal.find("[WARN]"); at != std::string::npos;
       at = terminal.find("[WARN]", at + 1), ++warnings) {
    EXPECT_EQ(terminal.substr(at < 4 ? 0 : at - 4, 4), "\r\x1b[K")
        << "a log line inside the progress line: " << printable(terminal);
  }
  EXPECT_EQ(warnings, 2U) << printable(terminal);
}

TEST(ToolMessages, TheSummaryCountsMaskPixelsWithoutDepth) {
  vantorel_test::TempDir dir;
  const std::string inputs = vantorel_test::sampleInputs() + " --output " + dir.file("out");
  const auto all = vantorel_test::runFrameTool(dir, inputs);
  EXPECT_NE(all.out.find("\n0 of 20982 mask pixels had no depth in the window"), std::string::npos)
      << all.out;
  EXPECT_EQ(all.out.find("hint:"), std::string::npos) << all.out;
  // The sample's objects lie beyond 0.5 m: a window ending there keeps none of them.
  const auto none = vantorel_test::runFrameTool(dir, inputs + " --max-depth 500");
  EXPECT_NE(none.out.find("\n20982 of 20982 mask pixels had no depth in the window (1 to 500 "),
            std::string::npos)
      << none.out;
  EXPECT_NE(none.out.find("\nhint: most mask pixels had no depth"), std::string::npos) << none.out;
}
