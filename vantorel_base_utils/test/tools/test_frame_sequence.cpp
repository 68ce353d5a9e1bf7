// SPDX-License-Identifier: Apache-2.0
// vantorel_frame_points --sequence over frames that the sample renderer draws from a moving
// arm base and a slightly tilted camera.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* const kOutputNames[] = {"points.json", "points.ply", "overlay.png"};

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class FrameSequence : public ::testing::Test {
 protected:
  // A tool that hangs is stopped after two minutes and counts as failed.
  ToolRun run(const std::string& program, const std::string& args) {
    const std::string out = dir_.file("stdout.txt");
    const std::string err = dir_.file("stderr.txt");
    const std::string command =
        "timeout 120 " + program + " " + args + " >" + out + " 2>" + err + " </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, vantorel_test::readFile(out),
            vantorel_test::readFile(err)};
  }
  ToolRun tool(const std::string& args) { return run(VANTOREL_FRAME_POINTS_EXE, args); }
  fs::path path(const std::string& name) const { return dir_.path() / name; }

  vantorel_test::TempDir dir_;
};

void expectSameOutputs(const fs::path& got, const fs::path& expected) {
  for (const char* name : kOutputNames) {
    ASSERT_TRUE(fs::is_regular_file(got / name)) << got / name;
    EXPECT_TRUE(vantorel_test::readFile((got / name).string()) ==
                vantorel_test::readFile((expected / name).string()))
        << got / name << " differs from " << expected / name;
  }
}

// Every box's projected top face lands on its known centre, whatever the pose it was seen
// from: the renderer's transforms are the ones it rendered with.
void expectKnownCentroids(const fs::path& frame_dir, const fs::path& output_dir) {
  const json expected = json::parse(vantorel_test::readFile(frame_dir / "expected_objects.json"));
  const json points = json::parse(vantorel_test::readFile(output_dir / "points.json"));
  for (const json& object : expected["objects"]) {
    const json& instances =
        points["classes"][std::to_string(object["cls"].get<int>())]["instances"];
    const auto found = std::find_if(instances.begin(), instances.end(), [&](const json& i) {
      return i["detection_index"] == object["detection_index"];
    });
    ASSERT_NE(found, instances.end()) << output_dir << " " << object;
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR((*found)["centroid"][k].get<double>(), object["top_centre_map"][k].get<double>(),
                  0.003)
          << output_dir << " " << object;
    }
  }
}

TEST_F(FrameSequence, ABrokenFrameFailsAloneAndTheOthersMatchSingleRuns) {
  const fs::path seq = path("seq");
  ASSERT_EQ(run(VANTOREL_MAKE_SAMPLE_FRAME_EXE, "--sequence 4 " + seq.string()).status, 0);
  const fs::path broken_depth = seq / "frame_0002" / "depth.png";
  cv::imwrite(broken_depth.string(), cv::Mat(480, 640, CV_8UC1, cv::Scalar(7)));
  vantorel_test::writeFile((seq / "notes.txt").string(), "not a frame");

  const ToolRun two =
      tool("--sequence " + seq.string() + " --jobs 2 --output " + path("out2").string());
  EXPECT_EQ(two.status, 1) << two.err;
  EXPECT_NE(two.err.find("frame frame_0002 failed: " + broken_depth.string()), std::string::npos)
      << two.err;
  EXPECT_NE(two.err.find("skipping " + (seq / "notes.txt").string() + ": not a folder"),
            std::string::npos)
      << two.err;
  EXPECT_NE(two.out.find("3 of 4 frames written, 1 failed"), std::string::npos) << two.out;
  EXPECT_FALSE(fs::exists(path("out2") / "frame_0002"));

  const ToolRun one =
      tool("--sequence " + seq.string() + " --jobs 1 --output " + path("out1").string());
  EXPECT_EQ(one.status, 1) << one.err;
  for (const char* frame : {"frame_0000", "frame_0001", "frame_0003"}) {
    const fs::path alone = path(std::string("alone_") + frame);
    const ToolRun single =
        tool("--sample-dir " + (seq / frame).string() + " --output " + alone.string());
    ASSERT_EQ(single.status, 0) << single.err;
    expectSameOutputs(path("out2") / frame, alone);
    expectSameOutputs(path("out1") / frame, alone);
    expectKnownCentroids(seq / frame, alone);
  }
  EXPECT_NE(vantorel_test::readFile((path("out2") / "frame_0000" / "points.json").string()),
            vantorel_test::readFile((path("out2") / "frame_0001" / "points.json").string()))
      << "the frames were not seen from different poses";
}

TEST_F(FrameSequence, OptionsAndFoldersAreCheckedBeforeAnyFrameRuns) {
  fs::create_directories(path("empty"));
  const std::string out = " --output " + path("out").string();
  const std::string empty = " --sequence " + path("empty").string();
  const std::pair<std::string, std::string> refusals[] = {{"--jobs 2", "--jobs"},
                                                          {empty + " --jobs 0", "--jobs"},
                                                          {empty + " --depth d.png", "--depth"}};
  for (const auto& [args, named] : refusals) {
    const ToolRun refused = tool(args + out);
    EXPECT_EQ(refused.status, 2) << args;
    EXPECT_NE(refused.err.find(named), std::string::npos) << args << ": " << refused.err;
  }
  for (const std::string& dir : {path("empty").string(), path("missing").string()}) {
    const ToolRun failed = tool("--sequence " + dir + out);
    EXPECT_EQ(failed.status, 1) << dir;
    EXPECT_NE(failed.err.find(dir + ": "), std::string::npos) << failed.err;
  }
  EXPECT_FALSE(fs::exists(path("out")));
}

}  // namespace
