// SPDX-License-Identifier: Apache-2.0
// Numbers read as int without wrapping or undefined behaviour; internal to the library.
#ifndef VANTOREL_BASE_UTILS__IO__NUMBER_TO_INT_HPP_
#define VANTOREL_BASE_UTILS__IO__NUMBER_TO_INT_HPP_

#include <optional>

#include <nlohmann/json.hpp>

namespace vantorel_base_utils {

// The value of a JSON integer (signed or unsigned) when int can hold it; nothing for an
// integer beyond int's range and for every value that is no integer.
std::optional<int> intOfJsonInteger(const nlohmann::json& value);

// Whether a floating value truncates toward zero into int's range (false for NaN).
bool truncatesIntoInt(double value);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__NUMBER_TO_INT_HPP_
