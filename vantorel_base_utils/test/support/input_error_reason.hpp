// SPDX-License-Identifier: Apache-2.0
// The reason of the InputError a call throws, for checks of the library's error convention.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__INPUT_ERROR_REASON_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__INPUT_ERROR_REASON_HPP_

#include <functional>
#include <optional>

#include "vantorel_base_utils/input_error.hpp"

namespace vantorel_test {

// Nothing when the call returns normally or throws anything but an InputError.
inline std::optional<vantorel_base_utils::InputError::Reason> inputErrorReason(
    const std::function<void()>& call) {
  try {
    call();
  } catch (const vantorel_base_utils::InputError& e) {
    return e.reason();
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__INPUT_ERROR_REASON_HPP_
