// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as the detector's result, then the mask-free steps that follow parsing. The
// check for members given twice agrees with the JSON library's own parse of valid text.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;

namespace {

// Whether an object of valid JSON text has fewer members than names were read for it, by the
// JSON library's parse; nothing for text that is not JSON.
std::optional<bool> repeatsAName(const std::string& text) {
  std::vector<std::size_t> names;  // per open object
  bool repeats = false;
  const json::parser_callback_t count = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) {
      names.push_back(0);
    } else if (event == json::parse_event_t::key) {
      ++names.back();
    } else if (event == json::parse_event_t::object_end) {
      repeats = repeats || parsed.size() != names.back();
      names.pop_back();
    }
    return true;
  };
  try {
    (void)json::parse(text, count);
  } catch (const json::exception&) {
    return std::nullopt;
  }
  return repeats;
}

void checkRepeatedMembers(const std::string& text) {
  bool refused = false;
  try {
    ymp::requireUniqueMembers(text);
  } catch (const vantorel_base_utils::InputError&) {
    refused = true;
  }
  const std::optional<bool> repeats = repeatsAName(text);
  VANTOREL_FUZZ_CHECK(!repeats || *repeats == refused);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rclcpp::Logger& logger = vantorel_fuzz::quietLogger();
  checkRepeatedMembers(text);
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
