// SPDX-License-Identifier: Apache-2.0
// Same-class box suppression against the literal rule of the test oracle (every kept box
// compared with every later box), on boxes of one class:
//   zero_area  boxes of zero width, as a detector that reports points would give
//   disjoint   equal boxes on a grid, none overlapping another
//   detector   clusters of overlapping boxes around scattered objects, as after a detector
// Every library benchmark first checks that the library keeps exactly the detections the
// literal rule keeps. Most of the program's run is the literal rule on 200,000 boxes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <rcutils/error_handling.h>
#include <rcutils/logging.h>
#include <rclcpp/logger.hpp>

#include "detection/suppression_oracle.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace {

namespace ymp = vantorel_base_utils::yolo_mask_parser;

constexpr float kThreshold = 0.5F;

ymp::YoloDetection detection(std::size_t index, float conf, float x1, float y1, float x2,
                             float y2) {
  return {index, x1, y1, x2, y2, 0, conf, std::max(x2 - x1, 0.F) * std::max(y2 - y1, 0.F)};
}

ymp::ParsedYolo zeroArea(std::size_t n) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> position(0.F, 1280.F);
  ymp::ParsedYolo parsed;
  for (std::size_t i = 0; i < n; ++i) {
    const float x = position(rng);
    const float y = position(rng);
    parsed.detections.push_back(detection(i, position(rng), x, y, x, y + 5.F));
  }
  return parsed;
}

ymp::ParsedYolo disjoint(std::size_t n) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> conf(0.F, 1.F);
  const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(n))));
  ymp::ParsedYolo parsed;
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<float>(i % side) * 10.F;
    const auto y = static_cast<float>(i / side) * 10.F;
    parsed.detections.push_back(detection(i, conf(rng), x, y, x + 8.F, y + 8.F));
  }
  return parsed;
}

ymp::ParsedYolo detectorLike(std::size_t n) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> position(0.F, 1200.F);
  std::normal_distribution<float> jitter(0.F, 4.F);
  std::uniform_real_distribution<float> conf(0.F, 1.F);
  ymp::ParsedYolo parsed;
  while (parsed.detections.size() < n) {
    const float x = position(rng);
    const float y = position(rng);
    for (int k = 0; k < 5 && parsed.detections.size() < n; ++k) {
      parsed.detections.push_back(detection(parsed.detections.size(), conf(rng), x + jitter(rng),
                                            y + jitter(rng), x + 40.F + jitter(rng),
                                            y + 40.F + jitter(rng)));
    }
  }
  return parsed;
}

using Make = ymp::ParsedYolo (*)(std::size_t);

// The literal rule logs nothing; the library's INFO line per call would be timed as well.
rclcpp::Logger quietLogger() {
  const auto logger = rclcpp::get_logger("bench_suppression");
  if (rcutils_logging_set_logger_level(logger.get_name(), RCUTILS_LOG_SEVERITY_WARN) !=
      RCUTILS_RET_OK) {
    rcutils_reset_error();
  }
  return logger;
}

// What the literal rule keeps, computed once per input: at 200,000 boxes it runs for minutes.
// Each literal benchmark runs before the library's on the same input and leaves its result.
std::map<std::pair<Make, std::size_t>, std::vector<std::size_t>>& literalResults() {
  static std::map<std::pair<Make, std::size_t>, std::vector<std::size_t>> results;
  return results;
}

void literal(benchmark::State& state, Make make) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const ymp::ParsedYolo input = make(n);
  std::vector<std::size_t> kept;
  for (auto _ : state) {
    kept = suppression_oracle::keptPositions(input.detections, kThreshold);
    benchmark::DoNotOptimize(kept.data());
  }
  literalResults()[{make, n}] = std::move(kept);
}

void library(benchmark::State& state, Make make) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const ymp::ParsedYolo input = make(n);
  const auto logger = quietLogger();
  auto known = literalResults().find({make, n});
  if (known == literalResults().end()) {
    known = literalResults()
                .emplace(std::make_pair(make, n),
                         suppression_oracle::keptPositions(input.detections, kThreshold))
                .first;
  }
  if (suppression_oracle::indices(ymp::sameClassBboxNms(input, kThreshold, logger)) !=
      known->second) {
    state.SkipWithError("differs from the literal rule");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::sameClassBboxNms(input, kThreshold, logger));
  }
}

// The literal rule runs once at 200,000 boxes, where it takes minutes.
void registerInputs(const std::string& name, Make make, const std::vector<std::int64_t>& sizes) {
  for (const std::int64_t n : sizes) {
    auto* run = benchmark::RegisterBenchmark(("literal/" + name).c_str(), literal, make);
    run->Arg(n)->Unit(benchmark::kMillisecond);
    if (n >= 200'000) {
      run->Iterations(1);
    }
  }
  for (const std::int64_t n : sizes) {
    benchmark::RegisterBenchmark(("library/" + name).c_str(), library, make)
        ->Arg(n)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerInputs("zero_area", zeroArea, {2'000, 20'000, 200'000});
  registerInputs("disjoint", disjoint, {2'000, 20'000, 200'000});
  registerInputs("detector", detectorLike, {25, 50, 100, 200, 400, 800, 2'000});
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
