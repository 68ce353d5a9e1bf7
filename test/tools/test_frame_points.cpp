#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <rclcpp/logger.hpp>

#include "frame_outputs.hpp"
#include "frame_pipeline.hpp"
#include "support/png_claiming.hpp"

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

  // Runs the installed-to-be tool; returns its exit status and what it wrote to stderr.
  std::pair<int, std::string> runTool(const std::string& args) {
    const fs::path err = work_ / "stderr.txt";
    const std::string command = std::string(VANTOREL_FRAME_POINTS_EXE) + " --output " +
                                (work_ / "out").string() + " " + args + " >" +
                                (work_ / "stdout.txt").string() + " 2>" + err.string();
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
    // Library warnings may come first; the tool's own verdict is one line naming the file.
    const auto verdict = err.rfind("vantorel_frame_points: ");
    ASSERT_NE(verdict, std::string::npos) << err;
    EXPECT_EQ(err.find("vantorel_frame_points: "), verdict) << err;
    EXPECT_EQ(err.find('\n', verdict), err.size() - 1) << err;
    EXPECT_NE(err.find(file_named, verdict), std::string::npos) << err;
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
  ASSERT_EQ(result.instances.size(), expected["objects"].size())
      << "the weaker duplicate box must have been suppressed";
  for (const auto& object : expected["objects"]) {
    const auto index = object["detection_index"].get<std::size_t>();
    const auto it = std::find_if(result.instances.begin(), result.instances.end(),
                                 [&](const auto& i) { return i.detection_index == index; });
    ASSERT_NE(it, result.instances.end()) << "detection " << index;
    EXPECT_EQ(it->cls, object["cls"].get<int>());
    ASSERT_GT(it->points.size(), 100u);
    const auto centroid = vantorel_tools::centroidOf(it->points);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(centroid[k], object["top_centre_map"][k].get<double>(), 0.003)
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
  ASSERT_EQ(result.instances.size(), 1u);
  // Map (1.05, 0.45, 0.05) seen from an arm base at (1, 0.5) turned a quarter about z.
  const auto centroid = vantorel_tools::centroidOf(result.instances[0].points);
  EXPECT_NEAR(centroid[0], -0.05, 0.003);
  EXPECT_NEAR(centroid[1], -0.05, 0.003);
  EXPECT_NEAR(centroid[2], 0.05, 0.003);
  const auto summary = vantorel_tools::summarise(result);
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0].cls, 2);
  EXPECT_EQ(summary[0].points, result.instances[0].points.size());
}

TEST_F(FramePoints, ToolWritesAllThreeFiles) {
  const auto [status, err] = runTool("");
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
  EXPECT_TRUE(fs::is_empty(work_ / "out" / ".." / "out") == false);
  for (const auto& entry : fs::directory_iterator(work_ / "out")) {
    EXPECT_EQ(entry.path().extension() == ".partial", false) << entry.path();
  }
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
