// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as the detector's result, then the mask-free steps that follow parsing.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <set>
#include <string>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rclcpp::Logger& logger = vantorel_fuzz::quietLogger();
  ymp::ParsedYolo parsed;
  try {
    parsed = ymp::parseYoloResult(text, logger);
  } catch (const std::exception&) {
    return 0;  // every refusal must be an exception, never a crash
  }
  std::set<int> keep;
  for (const auto& detection : parsed.detections) {
    if (detection.index % 2 == 0) {
      keep.insert(detection.cls);
    }
  }
  const ymp::ParsedYolo filtered = ymp::filterParsedYolo(parsed, keep);
  const float threshold = parsed.detections.empty() ? 0.5F : parsed.detections.front().conf;
  (void)ymp::sameClassBboxNms(filtered, threshold, logger);
  return 0;
}
