// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as the detector's result, along the whole road to the pixel map JSON. The
// JSON written for the map must read back, instance by instance, as the map's own pixels.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

void checkJsonMatchesMap(const ymp::InstancePixelMap& map, const nlohmann::json& json) {
  VANTOREL_FUZZ_CHECK(json.is_object() && json.size() == map.size());
  for (const auto& [cls, instances] : map) {
    const nlohmann::json& dirts = json.at(cls).at("dirts");
    VANTOREL_FUZZ_CHECK(dirts.size() == instances.size());
    for (std::size_t i = 0; i < instances.size(); ++i) {
      VANTOREL_FUZZ_CHECK(!instances[i].empty());
      VANTOREL_FUZZ_CHECK(vantorel_base_utils::parseImagePointsJson(dirts[i]) == instances[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rclcpp::Logger& logger = vantorel_fuzz::quietLogger();
  ymp::InstancePixelMap map;
  try {
    map = ymp::buildInstancePixelMap(ymp::parseYoloResult(text, logger), logger);
  } catch (const std::exception&) {
    return 0;  // refusals are exceptions, never crashes
  }
  const nlohmann::json json = ymp::instancePixelMapToJson(map);
  checkJsonMatchesMap(map, json);
  (void)json.dump();
  return 0;
}
