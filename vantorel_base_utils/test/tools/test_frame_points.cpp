// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <rclcpp/logger.hpp>

#include "frame_outputs.hpp"
#include "frame_pipeline.hpp"
#include "pcd_file.hpp"
#include "support/child_process.hpp"
#include "support/png_claiming.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/point_cloud.hpp"

namespace fs = std::filesystem;
using nlohmann::json;
using vantorel_tools::FrameOptions;

namespace {

const fs::path kSample = VANTOREL_SAMPLE_DIR_SOURCE;

FrameOptions sampleOptions() {
  FrameOptions o;
  o.detections_path = (kSample / "detections.json").string();
  o.depth_path = (kSample / "depth.png").string();
  o.camera_path = (kSample / "camera.yaml").string();
  o.camera_to_arm_base_path = (kSample / "camera_to_arm_base.json").string();
  o.arm_base_to_map_path = (kSample / "arm_base_to_map.json").string();
  o.nms_iou_threshold = 0.5F;
  return o;
}

json readJsonFile(const fs::path& path) {
  std::ifstream in(path);
  return json::parse(in);
}

// A binary PCD file taken apart: its header lines by keyword, and the bytes after DATA.
struct Pcd {
  std::map<std::string, std::string> header;
  std::string body;
};

Pcd readPcd(const std::string& file) {
  Pcd pcd;
  std::size_t at = 0;
  while (at < file.size()) {
    const std::size_t end = file.find('\n', at);
    const std::string line = file.substr(at, end - at);
    at = end == std::string::npos ? file.size() : end + 1;
    const std::size_t space = line.find(' ');
    if (line[0] != '#') {
      pcd.header[line.substr(0, space)] = line.substr(space + 1);
    }
    if (line.rfind("DATA", 0) == 0) {
      break;
    }
  }
  pcd.body = file.substr(at);
  return pcd;
}

float floatAt(const std::string& bytes, std::size_t at) {
  float value = 0.0F;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

std::uint32_t uintAt(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

class FramePoints : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::temp_directory_path() /
            ("vantorel_frame_points_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_);
  }
  void TearDown() override { fs::remove_all(work_); }

  // Runs the installed-to-be tool; returns its exit status and what it wrote to stderr. The
  // sample frame gives every input that `args` does not (without any, the tool takes its
  // bundled sample itself). A tool that hangs is stopped after a minute and counts as failed.
  std::pair<int, std::string> runTool(const std::string& args) {
    const fs::path err = work_ / "stderr.txt";
    const std::string inputs = args.empty() ? "" : "--sample-dir " + kSample.string() + " ";
    const std::string command = "timeout 60 " + std::string(VANTOREL_FRAME_POINTS_EXE) +
                                " --output " + (work_ / "out").string() + " " + inputs + args +
                                " >" + (work_ / "stdout.txt").string() + " 2>" + err.string();
    const int status = std::system(command.c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
  }

  fs::path copyOfSample() {
    const fs::path dir = work_ / "inputs";
    fs::copy(kSample, dir, fs::copy_options::recursive);
    return dir;
  }

  void expectCleanFailure(const std::string& args, const std::string& file_named) {
    const auto [status, err] = runTool(args);
    EXPECT_NE(status, 0) << args;
    // The tool's own verdict, one line naming the file, and nothing else: no library log
    // line and no decoder's own console output.
    EXPECT_EQ(err.rfind("vantorel_frame_points: ", 0), 0U) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_NE(err.find(file_named), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(work_ / "out") && !fs::is_empty(work_ / "out"))
        << "partial output left behind for " << args;
  }

  fs::path work_;
};

TEST_F(FramePoints, CentroidsLandOnTheKnownObjects) {
  const auto logger = rclcpp::get_logger("test_frame_points");
  const FrameOptions options = sampleOptions();
  const auto inputs = vantorel_tools::loadFrameInputs(options, logger);
  const auto result = vantorel_tools::runFrame(inputs, options, logger);

  const json expected = readJsonFile(kSample / "expected_objects.json");
  const auto& instances = result.detections.instances;
  ASSERT_EQ(instances.size(), expected["objects"].size())
      << "the weaker duplicate box must have been suppressed";
  for (const auto& object : expected["objects"]) {
    const auto index = object["detection_index"].get<std::size_t>();
    const auto it = std::find_if(instances.begin(), instances.end(),
                                 [&](const auto& i) { return i.detection.index == index; });
    ASSERT_NE(it, instances.end()) << "detection " << index;
    EXPECT_EQ(it->detection.cls, object["cls"].get<int>());
    ASSERT_GT(it->points.size(), 100u);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(it->centroid[k], object["top_centre_map"][k].get<double>(), 0.003)
          << "detection " << index << " axis " << k;
    }
  }
}

TEST_F(FramePoints, ArmBaseFrameAndClassFilterChangeWhatIsProjected) {
  const auto logger = rclcpp::get_logger("test_frame_points");
  FrameOptions options = sampleOptions();
  options.keep_classes = {2};
  options.frame = vantorel_tools::TargetFrame::ArmBase;
  const auto result =
      vantorel_tools::runFrame(vantorel_tools::loadFrameInputs(options, logger), options, logger);
  ASSERT_EQ(result.detections.instances.size(), 1u);
  // Map (1.05, 0.45, 0.05) seen from an arm base at (1, 0.5) turned a quarter about z.
  const auto& centroid = result.detections.instances[0].centroid;
  EXPECT_NEAR(centroid[0], -0.05, 0.003);
  EXPECT_NEAR(centroid[1], -0.05, 0.003);
  EXPECT_NEAR(centroid[2], 0.05, 0.003);
  const auto summary = vantorel_tools::summarise(result);
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0].cls, 2);
  EXPECT_EQ(summary[0].points, result.detections.instances[0].points.size());
}

TEST_F(FramePoints, ToolWritesEveryOutput) {
  const auto [status, err] = runTool("--organized");
  ASSERT_EQ(status, 0) << err;
  const json points = readJsonFile(work_ / "out" / "points.json");
  EXPECT_EQ(points["frame"], "map");
  EXPECT_EQ(points["classes"]["0"]["instances"].size(), 2u);
  const cv::Mat overlay = cv::imread((work_ / "out" / "overlay.png").string());
  EXPECT_EQ(overlay.cols, 640);
  EXPECT_EQ(overlay.rows, 480);
  std::ifstream ply(work_ / "out" / "points.ply");
  std::string magic;
  ply >> magic;
  EXPECT_EQ(magic, "ply");
  std::set<std::string> entries;
  for (const auto& entry : fs::directory_iterator(work_ / "out")) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries,
            (std::set<std::string>{".vantorel_frame_points.lock", "organized.pcd", "overlay.png",
                                   "points.json", "points.pcd", "points.ply"}));

  // The whole frame, NaN exactly where the depth image has no depth.
  const Pcd organized =
      readPcd(vantorel_test::readFile((work_ / "out" / "organized.pcd").string()));
  EXPECT_EQ(organized.header.at("WIDTH"), "640");
  EXPECT_EQ(organized.header.at("HEIGHT"), "480");
  ASSERT_EQ(organized.body.size(), 640u * 480u * 12u);
  const cv::Mat depth = cv::imread((kSample / "depth.png").string(), cv::IMREAD_UNCHANGED);
  std::size_t holes = 0;
  for (std::size_t i = 0; i < 640u * 480u; ++i) {
    holes += std::isnan(floatAt(organized.body, i * 12 + 8)) ? 1 : 0;
  }
  EXPECT_EQ(holes, static_cast<std::size_t>(depth.total()) -
                       static_cast<std::size_t>(cv::countNonZero(depth)));

  // A run without it leaves no organised cloud of another run beside its own set.
  ASSERT_EQ(runTool("").first, 0);
  EXPECT_FALSE(fs::exists(work_ / "out" / "organized.pcd"));
}

TEST_F(FramePoints, BadInputsEndWithOneLineAndNoFiles) {
  const fs::path in = copyOfSample();
  expectCleanFailure("--detections " + (in / "missing.json").string(), "missing.json");

  std::ofstream(in / "broken.json") << "{\"bbox_xyxy_list\": [";
  expectCleanFailure("--detections " + (in / "broken.json").string(), "broken.json");

  std::ofstream(in / "broken.yaml") << "image_width: [1, 2\n";
  expectCleanFailure("--camera " + (in / "broken.yaml").string(), "broken.yaml");

  cv::imwrite((in / "depth8.png").string(), cv::Mat(480, 640, CV_8UC1, cv::Scalar(7)));
  expectCleanFailure("--depth " + (in / "depth8.png").string(), "depth8.png");

  cv::imwrite((in / "small.png").string(), cv::Mat(240, 320, CV_16UC1, cv::Scalar(700)));
  expectCleanFailure("--depth " + (in / "small.png").string(), "small.png");

  // A header the image library refuses with an exception rather than an empty image.
  std::vector<uchar> png;
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(4, 4, CV_16UC1, cv::Scalar(700)), png));
  const std::string after_header(png.begin() + 33, png.end());
  std::ofstream(in / "huge.png", std::ios::binary)
      << vantorel_test::pngClaiming(65535, 65535, after_header);
  expectCleanFailure("--depth " + (in / "huge.png").string(), "huge.png");

  json detections = readJsonFile(in / "detections.json");
  detections["masks_base64"]["0"] = "not a png";
  detections["instance_masks"][0]["mask_base64"] = "bm90IGEgcG5n";
  std::ofstream(in / "bad_mask.json") << detections.dump();
  expectCleanFailure("--detections " + (in / "bad_mask.json").string(), "bad_mask.json");

  std::ofstream(in / "transform.json") << R"({"translation": [0, 0]})";
  expectCleanFailure("--arm-base-to-map " + (in / "transform.json").string(), "transform.json");
}

}  // namespace

namespace {

using vantorel_tools::FrameInputs;
using vantorel_tools::FrameResult;

const char* const kOutputNames[] = {"points.json", "points.ply", "points.pcd", "overlay.png"};

FrameInputs smallInputs() {
  FrameInputs inputs;
  inputs.depth = cv::Mat(24, 32, CV_16UC1, cv::Scalar(700));
  return inputs;
}

// A result of its own for each variant, so that two runs write different sets.
FrameResult smallResult(int variant, std::size_t points) {
  vantorel_base_utils::InstancePoints instance;
  instance.detection.index = static_cast<std::size_t>(variant);
  instance.detection.cls = variant;
  instance.detection.conf = 0.5F;
  instance.detection.x1 = 1.0F;
  instance.detection.y1 = 1.0F;
  instance.detection.x2 = 10.0F;
  instance.detection.y2 = 10.0F;
  instance.pixels = {{2, 2}, {3, 3}};
  for (std::size_t k = 0; k < points; ++k) {
    instance.points.emplace_back(0.001F * static_cast<float>(k * static_cast<std::size_t>(variant)),
                                 0.5F, 1.0F);
  }
  FrameResult result;
  result.frame =
      variant % 2 == 0 ? vantorel_tools::TargetFrame::Map : vantorel_tools::TargetFrame::ArmBase;
  result.detections.labelled_cloud =
      vantorel_base_utils::pointCloud2FromPoints(instance.points, std_msgs::msg::Header());
  result.detections.instances = {instance};
  return result;
}

std::vector<std::string> outputSet(const fs::path& dir) {
  std::vector<std::string> contents;
  for (const char* name : kOutputNames) {
    contents.push_back(vantorel_test::readFile((dir / name).string()));
  }
  return contents;
}

fs::perms permissionsOf(const fs::path& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

const rclcpp::Logger kToolLogger = rclcpp::get_logger("test_frame_points");

}  // namespace

TEST_F(FramePoints, ReplacingKeepsPermissionsAndFollowsNoPlantedLinks) {
  const fs::path out = work_ / "out";
  vantorel_tools::writeOutputs(out.string(), smallInputs(), smallResult(1, 10), kToolLogger);
  fs::permissions(out / "points.json", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(out / "points.ply",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Links where a careless or hostile user expects temporary files, and one over an output.
  const fs::path victim = work_ / "victim.txt";
  vantorel_test::writeFile(victim.string(), "keep me");
  for (const char* name : kOutputNames) {
    fs::create_symlink(victim, out / (std::string(name) + ".partial"));
  }
  fs::remove(out / "overlay.png");
  fs::create_symlink(victim, out / "overlay.png");

  vantorel_tools::writeOutputs(out.string(), smallInputs(), smallResult(2, 10), kToolLogger);
  vantorel_tools::writeOutputs((work_ / "fresh").string(), smallInputs(), smallResult(2, 10),
                               kToolLogger);
  EXPECT_EQ(vantorel_test::readFile(victim.string()), "keep me");
  EXPECT_TRUE(outputSet(out) == outputSet(work_ / "fresh")) << "not the new set";
  EXPECT_FALSE(fs::is_symlink(out / "overlay.png"));
  EXPECT_EQ(permissionsOf(out / "points.json"), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(permissionsOf(out / "points.ply"),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(FramePoints, AFailedWriteIsReportedAndKeepsThePreviousSet) {
  const fs::path out = work_ / "out";
  vantorel_tools::writeOutputs(out.string(), smallInputs(), smallResult(1, 10), kToolLogger);
  const auto previous = outputSet(out);
  vantorel_test::writeFile((out / "points.json.partial").string(), "a killed run's leftover");

  // A file size limit that the point cloud and the picture fit under and the points document
  // does not, as a nearly full disk would give.
  const FrameResult big = smallResult(2, 2000);
  const std::size_t json_size = vantorel_tools::pointsDocument(big).dump(1).size();
  const std::size_t ply_size = vantorel_tools::plyFile(big, vantorel_tools::PlyFormat::Auto).size();
  ASSERT_LT(ply_size, json_size / 2);
  const auto limit = static_cast<rlim_t>(json_size * 3 / 4);
  const std::string report = vantorel_test::runInChild([&]() -> std::string {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit fsize{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    try {
      vantorel_tools::writeOutputs(out.string(), smallInputs(), big, kToolLogger);
    } catch (const std::runtime_error&) {
      return "";
    }
    return "no failure reported";
  });
  EXPECT_EQ(report, "");
  EXPECT_TRUE(outputSet(out) == previous) << "the previous set was changed";

  // A target that cannot be replaced stops the run before any other target is touched.
  fs::remove(out / "overlay.png");
  fs::create_directory(out / "overlay.png");
  EXPECT_THROW(vantorel_tools::writeOutputs(out.string(), smallInputs(), big, kToolLogger),
               std::runtime_error);
  EXPECT_TRUE(vantorel_test::readFile((out / "points.json").string()) == previous[0] &&
              vantorel_test::readFile((out / "points.ply").string()) == previous[1] &&
              vantorel_test::readFile((out / "points.pcd").string()) == previous[2])
      << "a target replaced although the set could not be";
  std::set<std::string> entries;
  for (const auto& entry : fs::directory_iterator(out)) {
    entries.insert(entry.path().filename().string());
  }
  EXPECT_EQ(entries,
            (std::set<std::string>{".vantorel_frame_points.lock", "overlay.png", "points.json",
                                   "points.json.partial", "points.pcd", "points.ply"}));
}

TEST_F(FramePoints, ConcurrentRunsIntoOneFolderLeaveOneRunsWholeSet) {
  const FrameResult a = smallResult(1, 300);
  const FrameResult b = smallResult(2, 200);
  vantorel_tools::writeOutputs((work_ / "a").string(), smallInputs(), a, kToolLogger);
  vantorel_tools::writeOutputs((work_ / "b").string(), smallInputs(), b, kToolLogger);
  const auto set_a = outputSet(work_ / "a");
  const auto set_b = outputSet(work_ / "b");
  const std::string out = (work_ / "out").string();
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> failures{0};
    const auto run = [&](const FrameResult& result) {
      try {
        vantorel_tools::writeOutputs(out, smallInputs(), result, kToolLogger);
      } catch (const std::exception&) {
        ++failures;
      }
    };
    std::thread first(run, std::cref(a));
    std::thread second(run, std::cref(b));
    first.join();
    second.join();
    ASSERT_EQ(failures, 0) << "round " << round;
    const auto written = outputSet(out);
    ASSERT_TRUE(written == set_a || written == set_b) << "a mixed set in round " << round;
  }
}

TEST_F(FramePoints, HostileInputsEndWithOneLineAndNoFiles) {
  const fs::path in = copyOfSample();
  for (const char* flag :
       {"--detections", "--depth", "--camera", "--camera-to-arm-base", "--arm-base-to-map"}) {
    expectCleanFailure(std::string(flag) + " /dev/zero", "/dev/zero: not a regular file");
  }
  ASSERT_EQ(::mkfifo((in / "pipe").c_str(), 0600), 0);
  expectCleanFailure("--detections " + (in / "pipe").string(), "pipe: not a regular file");
  expectCleanFailure("--camera " + (in / "pipe").string(), "pipe: not a regular file");

  // Refused from its header, before a 128 MB image is allocated for it.
  std::ofstream(in / "claims.png", std::ios::binary)
      << vantorel_test::pngClaiming(8192, 8192, std::string(64, '\0'));
  expectCleanFailure("--depth " + (in / "claims.png").string(),
                     "claims.png: depth image is 8192x8192 but the calibration says 640x480");
  const std::string depth = vantorel_test::readFile((in / "depth.png").string());
  vantorel_test::writeFile((in / "cut.png").string(), depth.substr(0, depth.size() / 2));
  expectCleanFailure("--depth " + (in / "cut.png").string(),
                     "cut.png: not an image OpenCV can read");

  std::ofstream(in / "four.json") << R"({"translation": [0, 0, 0, 1], "rotation": [1, 0, 0, 0]})";
  expectCleanFailure("--camera-to-arm-base " + (in / "four.json").string(), "four.json");
  std::ofstream(in / "five.json") << R"({"translation": [0, 0, 0], "rotation": [1, 0, 0, 0, 0]})";
  expectCleanFailure("--arm-base-to-map " + (in / "five.json").string(), "five.json");
  std::ofstream(in / "far.json") << R"({"translation": [1e300, 0, 0], "rotation": [1, 0, 0, 0]})";
  expectCleanFailure("--arm-base-to-map " + (in / "far.json").string(), "far.json");

  std::string camera = vantorel_test::readFile((in / "camera.yaml").string());
  for (std::size_t at; (at = camera.find("data: [525")) != std::string::npos;) {
    camera.replace(at, 10, "data: [1e-320");  // fx of the camera and projection matrices
  }
  vantorel_test::writeFile((in / "tiny_focal.yaml").string(), camera);
  expectCleanFailure("--camera " + (in / "tiny_focal.yaml").string(), "tiny_focal.yaml");

  // Class masks that every class-0 and class-2 detection cuts its pixels from.
  const json detections = readJsonFile(in / "detections.json");
  json junk = detections;
  junk["masks_base64"]["0"] = "#not Base64#";
  std::ofstream(in / "junk_mask.json") << junk.dump();
  expectCleanFailure("--detections " + (in / "junk_mask.json").string(),
                     "junk_mask.json: masks_base64[0] PNG decode failed");
  // A class mask of half the frame's size would leave every box beyond it without points.
  json half = detections;
  half["masks_base64"]["0"] =
      "iVBORw0KGgoAAAANSUhEUgAAAUAAAADwCAAAAABURuK3";  // PNG header, 320x240
  std::ofstream(in / "half_mask.json") << half.dump();
  expectCleanFailure("--detections " + (in / "half_mask.json").string(),
                     "half_mask.json: masks_base64[0] is 320x240 pixels, not the 640x480 of the "
                     "frame it covers");
  json truncated = detections;
  const std::string mask = detections["masks_base64"]["2"];
  truncated["masks_base64"]["2"] = mask.substr(0, mask.size() / 8 * 4);
  std::ofstream(in / "truncated_mask.json") << truncated.dump();
  expectCleanFailure("--detections " + (in / "truncated_mask.json").string(),
                     "truncated_mask.json: masks_base64[2] PNG decode failed");
  std::ofstream(in / "twice.json") << "{\"cls_list\": []," << detections.dump().substr(1);
  expectCleanFailure("--detections " + (in / "twice.json").string(),
                     "twice.json: yolo_result member cls_list is given twice");
  json beyond_float = detections;
  beyond_float["bbox_xyxy_list"][1][2] = 1e39;
  std::ofstream(in / "beyond_float.json") << beyond_float.dump();
  expectCleanFailure("--detections " + (in / "beyond_float.json").string(), "beyond_float.json");
  json negative = detections;
  negative["cls_list"][2] = -1;
  std::ofstream(in / "negative.json") << negative.dump();
  expectCleanFailure("--detections " + (in / "negative.json").string(),
                     "negative.json: detection 2 has the negative class id -1");
}

// Corners far beyond int reach the overlay drawing; the sanitizer build checks the
// conversions there.
TEST_F(FramePoints, FarOffBoxesAreDrawnAndWritten) {
  const fs::path in = copyOfSample();
  json detections = readJsonFile(in / "detections.json");
  detections["bbox_xyxy_list"][1] = {-1e20, -3e9, 1e20, 5e9};
  std::ofstream(in / "far_boxes.json") << detections.dump();
  const auto [status, err] = runTool("--detections " + (in / "far_boxes.json").string());
  EXPECT_EQ(status, 0) << err;
  for (const char* name : kOutputNames) {
    EXPECT_TRUE(fs::is_regular_file(work_ / "out" / name)) << name;
  }
}

TEST_F(FramePoints, OptionsAreReadStrictly) {
  for (const std::string args : {"--classes 1,01",
                                 "--classes +1",
                                 "--classes ' 1'",
                                 "--classes 1,1",
                                 "--classes 1,",
                                 "--nms nan",
                                 "--nms 1.5",
                                 "--min-depth 5000 --max-depth 1",
                                 "--max-depth 1e4",
                                 "--depth-scale 0",
                                 "--depth-scale -0.001",
                                 "--depth-scale inf",
                                 "--depth-scale nan",
                                 "--depth-scale 1e-320",
                                 "--depth-scale 0.001m",
                                 "--depth-scale ''",
                                 "--ply text",
                                 "--max-points 0",
                                 "--max-points 18446744073709551616",
                                 "--max-depth-pixels +5"}) {
    const auto [status, err] = runTool(args);
    EXPECT_EQ(status, 2) << args;
    EXPECT_NE(err.find(args.substr(0, args.find(' '))), std::string::npos) << args << ": " << err;
    EXPECT_FALSE(fs::exists(work_ / "out")) << args;
  }
}

namespace {

FrameResult sampleResult(const FrameOptions& options) {
  return vantorel_tools::runFrame(vantorel_tools::loadFrameInputs(options, kToolLogger), options,
                                  kToolLogger);
}

std::array<float, 3> coordinatesOf(const vantorel_base_utils::ProjectedPoint& p) {
  return {p.x, p.y, p.z};
}

void expectSamePoints(const FrameResult& a, const FrameResult& b, float tolerance) {
  const auto& ia = a.detections.instances;
  const auto& ib = b.detections.instances;
  ASSERT_EQ(ia.size(), ib.size());
  for (std::size_t i = 0; i < ia.size(); ++i) {
    ASSERT_EQ(ia[i].points.size(), ib[i].points.size()) << "instance " << i;
    for (std::size_t k = 0; k < ia[i].points.size(); ++k) {
      const auto pa = coordinatesOf(ia[i].points[k]);
      const auto pb = coordinatesOf(ib[i].points[k]);
      for (std::size_t axis = 0; axis < 3; ++axis) {
        ASSERT_NEAR(pa[axis], pb[axis], tolerance) << "instance " << i << " point " << k;
      }
    }
  }
}

// A little-endian TIFF header of one 32-bit float strip image of the claimed size.
std::string floatTiffClaiming(std::uint32_t width, std::uint32_t height,
                              std::uint32_t rows_per_strip) {
  std::string tiff("II*\0", 4);
  const auto put = [&tiff](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      tiff.push_back(static_cast<char>(value >> (8 * i)));
    }
  };
  put(8, 4);
  const std::vector<std::array<std::uint32_t, 3>> tags = {
      {256, 4, width}, {257, 4, height}, {258, 3, 32}, {259, 3, 1},
      {262, 3, 1},     {273, 4, 256},    {277, 3, 1},  {278, 4, rows_per_strip},
      {279, 4, 64},    {339, 3, 3}};
  put(static_cast<std::uint32_t>(tags.size()), 2);
  for (const auto& [tag, type, value] : tags) {
    put(tag, 2);
    put(type, 2);
    put(1, 4);
    put(value, 4);
  }
  put(0, 4);
  tiff.resize(320, '\0');
  return tiff;
}

}  // namespace

// The labelled cloud reaches points.pcd field by field, packed, and instance_id k marks the
// k-th instance of points.json.
TEST_F(FramePoints, PcdHoldsTheLabelledPointsOfPointsJson) {
  const FrameResult result = sampleResult(sampleOptions());
  const Pcd pcd = readPcd(vantorel_tools::pcdBinary(result.detections.labelled_cloud));
  EXPECT_EQ(pcd.header.at("VERSION"), "0.7");
  EXPECT_EQ(pcd.header.at("FIELDS"), "x y z class_id instance_id");
  EXPECT_EQ(pcd.header.at("SIZE"), "4 4 4 4 4");
  EXPECT_EQ(pcd.header.at("TYPE"), "F F F U U");
  EXPECT_EQ(pcd.header.at("COUNT"), "1 1 1 1 1");
  EXPECT_EQ(pcd.header.at("HEIGHT"), "1");
  EXPECT_EQ(pcd.header.at("DATA"), "binary");
  const json document = vantorel_tools::pointsDocument(result);
  std::size_t at = 0;
  std::uint32_t instance_id = 0;
  for (const auto& [cls, entry] : document["classes"].items()) {
    for (const auto& instance : entry["instances"]) {
      ++instance_id;
      for (const auto& p : instance["points"]) {
        ASSERT_LE(at + 20, pcd.body.size());
        for (std::size_t axis = 0; axis < 3; ++axis) {
          ASSERT_EQ(floatAt(pcd.body, at + 4 * axis), p[axis].get<float>());
        }
        ASSERT_EQ(uintAt(pcd.body, at + 12), static_cast<std::uint32_t>(std::stoi(cls)));
        ASSERT_EQ(uintAt(pcd.body, at + 16), instance_id);
        at += 20;
      }
    }
  }
  EXPECT_EQ(at, pcd.body.size());
  EXPECT_EQ(pcd.header.at("WIDTH"), std::to_string(at / 20));
  EXPECT_EQ(pcd.header.at("POINTS"), std::to_string(at / 20));

  // A cloud with padding after each point and its fields listed out of memory order.
  sensor_msgs::msg::PointCloud2 padded;
  padded.height = 1;
  padded.width = 2;
  padded.point_step = 8;
  padded.row_step = 16;
  for (const auto& [name, offset] : {std::pair<const char*, std::uint32_t>{"b", 4}, {"a", 0}}) {
    sensor_msgs::msg::PointField field;
    field.name = name;
    field.offset = offset;
    field.datatype = sensor_msgs::msg::PointField::UINT16;
    field.count = 1;
    padded.fields.push_back(field);
  }
  padded.data = {1, 0, 9, 9, 2, 0, 9, 9, 3, 0, 9, 9, 4, 0, 9, 9};
  const Pcd packed = readPcd(vantorel_tools::pcdBinary(padded));
  EXPECT_EQ(packed.header.at("FIELDS"), "a b");
  EXPECT_EQ(packed.header.at("TYPE"), "U U");
  EXPECT_EQ(packed.body, std::string("\1\0\2\0\3\0\4\0", 8));
  padded.data.resize(15);
  EXPECT_THROW(vantorel_tools::pcdBinary(padded), std::invalid_argument);
}

TEST(PlyFile, BinaryHoldsTheAsciiValuesAndIsTheDefaultForLargeClouds) {
  const FrameResult result = smallResult(3, vantorel_tools::kLargestAsciiPly);
  const std::string ascii = vantorel_tools::plyFile(result, vantorel_tools::PlyFormat::Auto);
  const std::string binary = vantorel_tools::plyFile(result, vantorel_tools::PlyFormat::Binary);
  ASSERT_NE(ascii.find("format ascii 1.0\n"), std::string::npos);
  ASSERT_NE(binary.find("format binary_little_endian 1.0\n"), std::string::npos);
  const std::string end_header = "end_header\n";
  std::istringstream text(ascii.substr(ascii.find(end_header) + end_header.size()));
  const std::string body = binary.substr(binary.find(end_header) + end_header.size());
  ASSERT_EQ(body.size(), vantorel_tools::kLargestAsciiPly * 15);
  for (std::size_t at = 0; at < body.size(); at += 15) {
    float x = 0, y = 0, z = 0;
    int r = 0, g = 0, b = 0;
    ASSERT_TRUE(text >> x >> y >> z >> r >> g >> b);
    ASSERT_EQ(floatAt(body, at), x);
    ASSERT_EQ(floatAt(body, at + 4), y);
    ASSERT_EQ(floatAt(body, at + 8), z);
    ASSERT_EQ(static_cast<unsigned char>(body[at + 12]), r);
    ASSERT_EQ(static_cast<unsigned char>(body[at + 13]), g);
    ASSERT_EQ(static_cast<unsigned char>(body[at + 14]), b);
  }
  const FrameResult larger = smallResult(3, vantorel_tools::kLargestAsciiPly + 1);
  EXPECT_NE(vantorel_tools::plyFile(larger, vantorel_tools::PlyFormat::Auto).find("binary"),
            std::string::npos);
  EXPECT_NE(vantorel_tools::plyFile(larger, vantorel_tools::PlyFormat::Ascii).find("ascii"),
            std::string::npos);
}

// Camera-frame points scale with the depth unit; seen from the map they move along their
// rays from the camera centre. The window stays in raw units, so the same pixels count.
TEST_F(FramePoints, DepthScaleScalesDepthAndKeepsTheRawWindow) {
  FrameOptions options = sampleOptions();
  const FrameResult millimetres = sampleResult(options);
  options.depth_scale = 0.0002;
  const FrameResult tum = sampleResult(options);
  const auto inputs = vantorel_tools::loadFrameInputs(options, kToolLogger);
  const Eigen::Vector3d centre =
      (inputs.arm_base_to_map * inputs.camera_to_arm_base).col(3).head<3>();
  const auto& tum_instances = tum.detections.instances;
  const auto& mm_instances = millimetres.detections.instances;
  ASSERT_EQ(tum_instances.size(), mm_instances.size());
  for (std::size_t i = 0; i < tum_instances.size(); ++i) {
    ASSERT_EQ(tum_instances[i].points.size(), mm_instances[i].points.size());
    for (std::size_t k = 0; k < tum_instances[i].points.size(); ++k) {
      const auto p = coordinatesOf(tum_instances[i].points[k]);
      const auto q = coordinatesOf(mm_instances[i].points[k]);
      for (Eigen::Index axis = 0; axis < 3; ++axis) {
        ASSERT_NEAR(p[axis] - centre[axis], 0.2 * (q[axis] - centre[axis]), 2e-6);
      }
    }
  }
}

// A float image of the same metres gives the same points: NaN, infinite and zero pixels are
// holes, and the overlay keeps its colour range.
TEST_F(FramePoints, FloatDepthInMetresMatchesTheSixteenBitFrame) {
  const fs::path in = copyOfSample();
  cv::Mat metres;
  cv::imread((in / "depth.png").string(), cv::IMREAD_UNCHANGED).convertTo(metres, CV_32F, 0.001);
  metres.setTo(std::numeric_limits<float>::quiet_NaN(), metres == 0);
  metres.at<float>(0, 0) = std::numeric_limits<float>::infinity();
  metres.at<float>(0, 1) = -1.0F;
  ASSERT_TRUE(cv::imwrite((in / "depth.tiff").string(), metres));
  FrameOptions options = sampleOptions();
  const auto reference_inputs = vantorel_tools::loadFrameInputs(options, kToolLogger);
  const FrameResult reference = vantorel_tools::runFrame(reference_inputs, options, kToolLogger);
  const cv::Mat reference_overlay = vantorel_tools::overlayImage(reference_inputs.depth, reference);
  options.depth_path = (in / "depth.tiff").string();
  const auto inputs = vantorel_tools::loadFrameInputs(options, kToolLogger);
  const FrameResult result = vantorel_tools::runFrame(inputs, options, kToolLogger);
  expectSamePoints(result, reference, 1e-6F);
  const cv::Mat overlay = vantorel_tools::overlayImage(inputs.depth, result);
  EXPECT_EQ(overlay.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
  cv::Mat differences;
  cv::absdiff(overlay, reference_overlay, differences);
  cv::cvtColor(differences, differences, cv::COLOR_BGR2GRAY);
  EXPECT_LT(cv::countNonZero(differences > 8), 100) << "overlay colours drifted";

  // Refused from the header, before a 256 MB image or a 1 GB strip is allocated.
  std::ofstream(in / "claims.tiff", std::ios::binary) << floatTiffClaiming(8192, 8192, 8192);
  expectCleanFailure("--depth " + (in / "claims.tiff").string(),
                     "claims.tiff: depth image is 8192x8192 but the calibration says 640x480");
  std::ofstream(in / "strip.tiff", std::ios::binary) << floatTiffClaiming(640, 480, 400000);
  expectCleanFailure("--depth " + (in / "strip.tiff").string(),
                     "strip.tiff: TIFF strips or tiles larger than the image");
}

// The CameraInfo message as ros2 topic echo prints it describes the same camera.
TEST_F(FramePoints, EchoedCameraInfoGivesTheCalibrationsPoints) {
  const fs::path in = copyOfSample();
  vantorel_test::writeFile((in / "ros2.yaml").string(), R"(header:
  stamp:
    sec: 1700000000
    nanosec: 5
  frame_id: camera_optical_frame
height: 480
width: 640
distortion_model: plumb_bob
d: [0.0, 0.0, 0.0, 0.0, 0.0]
k:
- 525.0
- 0.0
- 319.5
- 0.0
- 525.0
- 239.5
- 0.0
- 0.0
- 1.0
r: [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
p: [525.0, 0.0, 319.5, 0.0, 0.0, 525.0, 239.5, 0.0, 0.0, 0.0, 1.0, 0.0]
binning_x: 0
binning_y: 0
roi:
  x_offset: 0
  y_offset: 0
  height: 0
  width: 0
  do_rectify: false
---
)");
  FrameOptions options = sampleOptions();
  const FrameResult reference = sampleResult(options);
  options.camera_path = (in / "ros2.yaml").string();
  expectSamePoints(sampleResult(options), reference, 0.0F);
  // Distortion the projection ignores is said once; a flipped axis is refused with its remedy.
  const std::string ros2 = vantorel_test::readFile(options.camera_path);
  std::string distorted = ros2;
  distorted.replace(distorted.find("d: [0.0"), 7, "d: [0.1");
  vantorel_test::writeFile((in / "distorted.yaml").string(), distorted);
  const auto [distorted_status, warning] = runTool("--camera " + (in / "distorted.yaml").string());
  EXPECT_EQ(distorted_status, 0) << warning;
  EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
  EXPECT_NE(warning.find("distorted.yaml: d holds distortion coefficients"), std::string::npos)
      << warning;
  fs::remove_all(work_ / "out");
  std::string flipped = ros2;
  flipped.replace(flipped.find("- 525.0\n- 239.5"), 7, "- -525.0");
  vantorel_test::writeFile((in / "flipped.yaml").string(), flipped);
  expectCleanFailure("--camera " + (in / "flipped.yaml").string(),
                     "flipped.yaml: k[4] (fy) is -525, a negative focal length");
  vantorel_test::writeFile((in / "no_k.yaml").string(), "height: 480\nwidth: 640\nd: []\n");
  expectCleanFailure("--camera " + (in / "no_k.yaml").string(), "no_k.yaml");
  const auto [status, err] = runTool("--camera " + (in / "no_k.yaml").string());
  EXPECT_EQ(err.find("json.exception"), std::string::npos) << err;
}

// A transform as ros2 topic echo prints it names its quaternion's members, so that nobody
// reorders them by hand: the sample's transforms in that form give the sample's points. A
// file mixing the two forms, or short of a member, is refused naming the member.
TEST_F(FramePoints, TransformsWithNamedMembersGiveTheSamePoints) {
  const fs::path in = copyOfSample();
  vantorel_test::writeFile((in / "camera_to_arm_base.yaml").string(), R"(header:
  stamp:
    sec: 1700000000
    nanosec: 5
  frame_id: arm_base
child_frame_id: camera_optical_frame
transform:
  translation:
    x: 0.3
    y: 0.0
    z: 1.2
  rotation:
    x: 0.7071067811865476
    y: -0.7071067811865475
    z: 0.0
    w: 0.0
---
)");
  vantorel_test::writeFile((in / "arm_base_to_map.json").string(),
                           R"({"translation": {"x": 1.0, "y": 0.5, "z": 0.0},
                               "rotation": {"x": 0, "y": 0, "z": 0.7071067811865475,
                                            "w": 0.7071067811865476}})");
  FrameOptions options = sampleOptions();
  const FrameResult reference = sampleResult(options);
  options.camera_to_arm_base_path = (in / "camera_to_arm_base.yaml").string();
  options.arm_base_to_map_path = (in / "arm_base_to_map.json").string();
  expectSamePoints(sampleResult(options), reference, 0.0F);

  vantorel_test::writeFile(
      (in / "mixed.json").string(),
      R"({"translation": {"x": 0, "y": 0, "z": 0}, "rotation": [1, 0, 0, 0]})");
  expectCleanFailure("--arm-base-to-map " + (in / "mixed.json").string(),
                     "mixed.json: \"rotation\"");
  vantorel_test::writeFile((in / "short.yaml").string(),
                           "translation: {x: 0, y: 0, z: 0}\nrotation: {x: 0, y: 0, z: 0}\n");
  expectCleanFailure("--camera-to-arm-base " + (in / "short.yaml").string(),
                     "short.yaml: member \"rotation.w\" is missing");
}
