// SPDX-License-Identifier: Apache-2.0
// Several threads call the library at once on shared inputs. Each thread checks its answers
// against the ones computed beforehand on a single thread; the ThreadSanitizer build of this
// suite reports any data race on the way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "support/console_capture.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/detection_points.hpp"
#include "vantorel_base_utils/logger.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/set_cover.hpp"
#include "vantorel_base_utils/timer.hpp"
#include "vantorel_base_utils/transforms.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vbu = vantorel_base_utils;
namespace yolo = vantorel_base_utils::yolo_mask_parser;
namespace fs = std::filesystem;
using nlohmann::json;
using vantorel_test::ConsoleToFile;
using vantorel_test::readFile;
using vantorel_test::TempDir;

namespace {

constexpr int kThreads = 4;
const rclcpp::Logger kLogger = rclcpp::get_logger("concurrency_test");
const fs::path kSample = VANTOREL_SAMPLE_DIR_SOURCE;

// Runs work(thread_index, round) on kThreads threads at once, `rounds` times each; returns
// how many calls reported a wrong answer.
int runConcurrently(int rounds, const std::function<bool(int, int)>& work) {
  std::atomic<int> wrong{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) {
        std::this_thread::yield();
      }
      for (int round = 0; round < rounds; ++round) {
        if (!work(t, round)) {
          ++wrong;
        }
      }
    });
  }
  go = true;
  for (auto& thread : threads) {
    thread.join();
  }
  return wrong.load();
}

bool samePoints(const std::vector<vbu::ProjectedPoint>& a,
                const std::vector<vbu::ProjectedPoint>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) {
      return false;
    }
  }
  return true;
}

std::string sampleText(const std::string& name) {
  return readFile((kSample / name).string());
}

vbu::CameraModel sampleCamera() {
  sensor_msgs::msg::CameraInfo info;
  info.width = 640;
  info.height = 480;
  info.k = {525, 0, 319.5, 0, 525, 239.5, 0, 0, 1};
  return vbu::cameraModelFromCameraInfo(info);
}

}  // namespace

TEST(Concurrency, ThreadsProjectWithOneSharedContextAndBuildTheirOwn) {
  const std::string depth_path = (kSample / "depth.png").string();
  const json camera_to_arm_base = json::parse(sampleText("camera_to_arm_base.json"));
  const json arm_base_to_map = json::parse(sampleText("arm_base_to_map.json"));
  const vbu::ProjectionContext shared = vbu::createProjectionContext(
      depth_path, sampleCamera(), camera_to_arm_base, arm_base_to_map, 1, 10000, kLogger);

  // Every pixel of the frame, in row order and in a scattered order, and pixels off the image.
  std::vector<std::array<int, 2>> frame;
  for (int v = 0; v < shared.depth.rows; ++v) {
    for (int u = 0; u < shared.depth.cols; ++u) {
      frame.push_back({u, v});
    }
  }
  std::vector<std::array<int, 2>> scattered(frame.begin(), frame.begin() + 20000);
  std::shuffle(scattered.begin(), scattered.end(), std::mt19937(7));
  scattered.push_back({-1, 3});
  scattered.push_back({640, 3});
  const std::vector<std::vector<std::array<int, 2>>> sets = {frame, {}, scattered};
  json some_points = json::array();
  for (std::size_t i = 0; i < 500; ++i) {
    some_points.push_back({{"u", scattered[i][0]}, {"v", scattered[i][1]}});
  }

  const auto to_map = vbu::projectImagePointsToMap(shared, frame);
  const auto to_arm_base = vbu::projectImagePointSetsToArmBase(shared, sets);
  const json json_points = vbu::projectImagePointsJsonToMap(shared, some_points);
  ASSERT_GT(to_map.size(), 100000u);

  const int wrong = runConcurrently(3, [&](int t, int round) {
    switch ((t + round) % 3) {
      case 0:
        return samePoints(vbu::projectImagePointsToMap(shared, frame), to_map);
      case 1: {
        const auto result = vbu::projectImagePointSetsToArmBase(shared, sets);
        return result.size() == 3 && samePoints(result[0], to_arm_base[0]) && result[1].empty() &&
               samePoints(result[2], to_arm_base[2]);
      }
      default: {
        // A context of its own, from the same file, while others read the shared one.
        const vbu::ProjectionContext own = vbu::createProjectionContext(
            depth_path, sampleCamera(), camera_to_arm_base, arm_base_to_map, 1, 10000, kLogger);
        return vbu::projectImagePointsJsonToMap(own, some_points) == json_points &&
               vbu::projectImagePointsJsonToMap(shared, some_points) == json_points;
      }
    }
  });
  EXPECT_EQ(wrong, 0);
}

TEST(Concurrency, ThreadsParseDetectionsAndBuildPixelMaps) {
  const std::string text = sampleText("detections.json");
  const std::set<int> keep = {0, 2};
  const auto roadOf = [&](const std::string& result_text) {
    const yolo::ParsedYolo parsed = yolo::parseYoloResult(result_text, kLogger);
    return yolo::sameClassBboxNms(yolo::filterParsedYolo(parsed, keep), 0.5F, kLogger);
  };
  const yolo::ParsedYolo shared = yolo::parseYoloResult(text, kLogger);
  const yolo::ParsedYolo filtered = roadOf(text);
  const yolo::InstancePixelMap map = yolo::buildInstancePixelMap(filtered, kLogger);
  const json map_json = yolo::instancePixelMapToJson(map);
  const auto all_sets = yolo::buildInstancePixelSets(shared, kLogger);
  ASSERT_FALSE(map.empty());
  ASSERT_EQ(all_sets.size(), shared.detections.size());

  const int wrong = runConcurrently(4, [&](int t, int round) {
    if ((t + round) % 2 == 0) {
      const yolo::InstancePixelMap own = yolo::buildInstancePixelMap(roadOf(text), kLogger);
      return own == map && yolo::instancePixelMapToJson(own) == map_json;
    }
    // Pixel sets from one parsed result that every thread reads.
    const auto sets = yolo::buildInstancePixelSets(shared, kLogger);
    bool same = sets.size() == all_sets.size();
    for (std::size_t i = 0; same && i < sets.size(); ++i) {
      same = sets[i].pixels == all_sets[i].pixels &&
             sets[i].roi_mask_base64 == all_sets[i].roi_mask_base64;
    }
    return same;
  });
  EXPECT_EQ(wrong, 0);
}

// The road reads the caller's image where it lies, without a copy: every thread's call reads
// the one image at once.
TEST(Concurrency, ThreadsRunTheRoadOverOneSharedImage) {
  const std::string text = sampleText("detections.json");
  const vbu::CameraModel camera = sampleCamera();
  const cv::Mat depth = vbu::readDepthImage((kSample / "depth.png").string(), camera);
  const Eigen::Isometry3d camera_to_arm_base(
      vbu::toEigenTransform(json::parse(sampleText("camera_to_arm_base.json"))));
  const Eigen::Isometry3d arm_base_to_map(
      vbu::toEigenTransform(json::parse(sampleText("arm_base_to_map.json"))));
  vbu::DetectionPointsOptions options;
  options.nms_iou_threshold = 0.5F;
  const auto road = [&] {
    return vbu::projectDetections(text, depth, camera, camera_to_arm_base, arm_base_to_map, options,
                                  kLogger);
  };
  const vbu::DetectionPoints expected = road();
  ASSERT_GT(expected.labelled_cloud.width, 10000u);
  const int wrong = runConcurrently(3, [&](int, int) {
    const vbu::DetectionPoints own = road();
    return own.labelled_cloud == expected.labelled_cloud &&
           own.instances.size() == expected.instances.size() &&
           own.instances.back().centroid == expected.instances.back().centroid;
  });
  EXPECT_EQ(wrong, 0);
}

namespace {

template <typename T>
std::map<int, std::set<T>> randomInstance(unsigned seed, int candidates, int elements,
                                          const std::function<T(int)>& element) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, elements - 1);
  std::uniform_int_distribution<int> size(1, 6);
  std::map<int, std::set<T>> instance;
  for (int c = 0; c < candidates; ++c) {
    const int n = size(random);
    for (int i = 0; i < n; ++i) {
      instance[c * 3].insert(element(pick(random)));
    }
  }
  return instance;
}

// Every method of one solver on one instance, as one comparable list of answers.
template <typename T>
std::vector<std::vector<int>> allMethods(const std::map<int, std::set<T>>& instance) {
  using Solver = vbu::SetCoverSolver<T>;
  return {Solver::solve(instance, vbu::SolveMethod::Greedy, false),
          Solver::solve(instance, vbu::SolveMethod::Greedy, true),
          Solver::solve(instance, vbu::SolveMethod::Propagate, false),
          Solver::solve(instance, vbu::SolveMethod::ILP, false)};
}

}  // namespace

TEST(Concurrency, ThreadsSolveSetCoverWithEveryMethod) {
  const auto ints = randomInstance<int>(1, 40, 50, [](int e) { return e; });
  const auto texts =
      randomInstance<std::string>(2, 20, 25, [](int e) { return "e" + std::to_string(e); });
  const auto longs = randomInstance<unsigned long>(
      3, 20, 25, [](int e) { return static_cast<unsigned long>(e) << 40; });
  const auto int_answers = allMethods(ints);
  const auto text_answers = allMethods(texts);
  const auto long_answers = allMethods(longs);
  // The two exact methods agree on the size of a minimum cover.
  EXPECT_EQ(int_answers[2].size(), int_answers[3].size());
  EXPECT_EQ(text_answers[2].size(), text_answers[3].size());
  ASSERT_FALSE(int_answers[3].empty());

  // A program GLPK cannot solve fails alone, without disturbing the other threads.
  const std::vector<std::vector<int>> uncoverable = {{0}, {}};
  constexpr int kRounds = 12;
  testing::internal::CaptureStderr();
  const int wrong = runConcurrently(kRounds, [&](int t, int round) {
    switch ((t + round) % 4) {
      case 0:
        return allMethods(ints) == int_answers;
      case 1:
        return allMethods(texts) == text_answers;
      case 2:
        return allMethods(longs) == long_answers;
      default:
        return vbu::solveILP(2, 2, uncoverable).empty();
    }
  });
  const std::string failures = testing::internal::GetCapturedStderr();
  EXPECT_EQ(wrong, 0);
  // Whole lines only: no failure line is cut by another.
  std::istringstream lines(failures);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.rfind("[SetCoverSolver] GLPK ILP failed (ret=", 0), 0u) << line;
    ++count;
  }
  EXPECT_EQ(count, kRounds);  // one thread per round fails on purpose
}

// Limits belong to their call: a node count or deadline shared between threads would stop
// one search at another's limit and change what it returns.
TEST(Concurrency, ThreadsSearchWithinTheirOwnLimits) {
  using Solver = vbu::SetCoverSolver<int>;
  const auto instance = randomInstance<int>(4, 60, 80, [](int e) { return e; });
  vbu::SetCoverOptions one_node;
  one_node.node_limit = 1;
  vbu::SetCoverOptions roomy;
  roomy.time_limit_seconds = 60.0;
  const auto same = [](const vbu::SetCoverResult& a, const vbu::SetCoverResult& b) {
    return a.ids == b.ids && a.lower_bound == b.lower_bound &&
           a.proven_minimal == b.proven_minimal && a.nodes == b.nodes;
  };
  const vbu::SetCoverResult stopped = Solver::solveByPropagate(instance, one_node);
  const vbu::SetCoverResult finished = Solver::solveByPropagate(instance, roomy);
  const vbu::SetCoverResult by_glpk = Solver::solveByILP(instance, roomy);
  ASSERT_TRUE(finished.proven_minimal);
  ASSERT_LT(stopped.nodes, finished.nodes);  // the node limit bites
  ASSERT_EQ(by_glpk.ids.size(), finished.ids.size());
  const int wrong = runConcurrently(4, [&](int t, int round) {
    switch ((t + round) % 3) {
      case 0:
        return same(Solver::solveByPropagate(instance, one_node), stopped);
      case 1:
        return same(Solver::solveByPropagate(instance, roomy), finished);
      default:
        return Solver::solveByILP(instance, roomy).ids.size() == finished.ids.size();
    }
  });
  EXPECT_EQ(wrong, 0);
}

TEST(Concurrency, LoggerAndTimersFromSeveralThreadsKeepWholeLinesAndEveryMeasurement) {
  constexpr int kRounds = 150;
  TempDir dir;
  vbu::Timer::clearGlobalStats();
  ConsoleToFile console(dir.file("console.txt"));
  const int wrong = runConcurrently(kRounds, [&](int t, int round) {
    const std::string tag = std::to_string(t) + "." + std::to_string(round);
    if (t == 0) {
      // The threshold changes under the feet of the other threads.
      vbu::Logger::setLevel(round % 2 == 0 ? vbu::Logger::ERROR : vbu::Logger::DEBUG);
      vbu::Timer::getGlobalStats();
      if (round % 50 == 0) {
        vbu::Timer::printGlobalStats();
      }
      return true;
    }
    vbu::Timer timer("shared_name", round % 10 == 0);
    vbu::Timer own("thread_" + std::to_string(t));
    timer.start();
    own.start();
    vbu::Logger::debug("debug " + tag);
    vbu::Logger::info("info " + tag);
    vbu::Logger::warning("warning " + tag);
    vbu::Logger::error("error " + tag);
    own.stop();
    return timer.stop() >= 0.0 && timer.getElapsed() == timer.stop();
  });
  const std::string output = console.finish();
  vbu::Logger::setLevel(vbu::Logger::INFO);
  EXPECT_EQ(wrong, 0);

  const auto stats = vbu::Timer::getGlobalStats();
  const int workers = kThreads - 1;
  EXPECT_EQ(stats.at("shared_name").at("count"), workers * kRounds);
  for (int t = 1; t < kThreads; ++t) {
    EXPECT_EQ(stats.at("thread_" + std::to_string(t)).at("count"), kRounds);
  }
  vbu::Timer::clearGlobalStats();

  // Every line is one whole message: a logger line, a timer line or a line of a report.
  const std::regex whole_line(
      R"(\[(DEBUG|INFO|WARNING|ERROR)\] \w+ \d+\.\d+|\[shared_name\] \d+\.\d{4} s|=+|)"
      R"(Global Timer Statistics|No timer data available|Total: .*|\w+ +\| n=.*%)");
  std::istringstream lines(output);
  std::string line;
  int errors = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, whole_line)) << "torn line: " << line;
    errors += line.rfind("[ERROR] error ", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(errors, workers * kRounds);  // error prints whatever the threshold
}
