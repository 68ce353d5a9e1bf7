// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a JSON file. readJson never throws; a file that holds exactly one JSON
// value reads as that value when it nests no deeper than kJsonMaxDepth, and anything
// unreadable or deeper as an empty object.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/json_utils.hpp"

namespace {

std::size_t nestingOf(const nlohmann::json& root) {
  std::size_t deepest = 0;
  std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (node->is_structured()) {
      deepest = std::max(deepest, depth + 1);
      for (const auto& child : *node) {
        pending.emplace_back(&child, depth + 1);
      }
    }
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = vantorel_fuzz::scratchFile(".json");
  vantorel_fuzz::writeFile(path, data, size);
  const nlohmann::json read = vantorel_base_utils::readJson(path, vantorel_fuzz::quietLogger());
  const nlohmann::json whole = nlohmann::json::parse(data, data + size, nullptr, false);
  if (!whole.is_discarded()) {
    const bool too_deep = nestingOf(whole) > vantorel_base_utils::kJsonMaxDepth;
    VANTOREL_FUZZ_CHECK(read == (too_deep ? nlohmann::json::object() : whole));
  }
  return 0;
}
