// SPDX-License-Identifier: Apache-2.0
// Numbers read as int without wrapping or undefined behaviour.
#include "io/number_to_int.hpp"

#include <cstdint>
#include <limits>

namespace vantorel_base_utils {

std::optional<int> intOfJsonInteger(const nlohmann::json& value) {
  constexpr auto kMin = std::numeric_limits<int>::min();
  constexpr auto kMax = std::numeric_limits<int>::max();
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    return n <= static_cast<std::uint64_t>(kMax) ? std::optional<int>(static_cast<int>(n))
                                                 : std::nullopt;
  }
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    return n >= kMin && n <= kMax ? std::optional<int>(static_cast<int>(n)) : std::nullopt;
  }
  return std::nullopt;
}

bool truncatesIntoInt(double value) {
  constexpr auto kMin = static_cast<double>(std::numeric_limits<int>::min());
  constexpr auto kMax = static_cast<double>(std::numeric_limits<int>::max());
  return value > kMin - 1.0 && value < kMax + 1.0;
}

}  // namespace vantorel_base_utils
