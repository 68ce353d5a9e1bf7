// Same-class box suppression against the literal rule of the test oracle (every kept box
// compared with every later box), on boxes of one class:
//   zero_area  boxes of zero width, as a detector that reports points would give
//   disjoint   equal boxes on a grid, none overlapping another
//   detector   clusters of overlapping boxes around scattered objects, as after a detector
// Every library benchmark first checks that the library keeps exactly the detections the
// literal rule keeps. The whole program runs for about three minutes, most of it the literal
// rule on 200,000 boxes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

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

std::vector<std::size_t> keptIndices(const ymp::ParsedYolo& kept) {
  std::vector<std::size_t> indices;
  for (const auto& d : kept.detections) {
    indices.push_back(d.index);
  }
  return indices;
}

using Make = ymp::ParsedYolo (*)(std::size_t);

// What the literal rule keeps, computed once per input: at 200,000 boxes it runs for about a
// minute. The literal benchmarks run first and leave their result here.
std::map<std::pair<Make, std::size_t>, std::vector<std::size_t>>& literalResults() {
  static std::map<std::pair<Make, std::size_t>, std::vector<std::size_t>> results;
  return results;
}

template <Make make>
void BM_Literal(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const ymp::ParsedYolo input = make(n);
  std::vector<std::size_t> kept;
  for (auto _ : state) {
    kept = suppression_oracle::keptPositions(input.detections, kThreshold);
    benchmark::DoNotOptimize(kept.data());
  }
  literalResults()[{make, n}] = std::move(kept);
}

template <Make make>
void BM_Library(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const ymp::ParsedYolo input = make(n);
  const auto logger = rclcpp::get_logger("bench_suppression");
  auto literal = literalResults().find({make, n});
  if (literal == literalResults().end()) {
    literal = literalResults()
                  .emplace(std::make_pair(make, n),
                           suppression_oracle::keptPositions(input.detections, kThreshold))
                  .first;
  }
  if (keptIndices(ymp::sameClassBboxNms(input, kThreshold, logger)) != literal->second) {
    state.SkipWithError("differs from the literal rule");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::sameClassBboxNms(input, kThreshold, logger));
  }
}

// Each literal run comes first and hands its result to the library's check.
BENCHMARK_TEMPLATE(BM_Literal, zeroArea)->Arg(2'000)->Arg(20'000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Literal, zeroArea)
    ->Arg(200'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Library, zeroArea)
    ->Arg(2'000)
    ->Arg(20'000)
    ->Arg(200'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Literal, disjoint)->Arg(2'000)->Arg(20'000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Literal, disjoint)
    ->Arg(200'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Library, disjoint)
    ->Arg(2'000)
    ->Arg(20'000)
    ->Arg(200'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Literal, detectorLike)->Arg(100)->Arg(2'000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Library, detectorLike)->Arg(100)->Arg(2'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
