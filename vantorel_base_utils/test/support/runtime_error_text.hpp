// SPDX-License-Identifier: Apache-2.0
// The text of the exception a call throws, for comparisons of messages.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__RUNTIME_ERROR_TEXT_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__RUNTIME_ERROR_TEXT_HPP_

#include <functional>
#include <stdexcept>
#include <string>

namespace vantorel_test {

constexpr const char* kNoSuchException = "no such exception";

// what() of the `Exception` the call throws; kNoSuchException when the call returns
// normally. Exceptions of other types pass through.
template <typename Exception>
std::string errorText(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return kNoSuchException;
}

inline std::string runtimeErrorText(const std::function<void()>& call) {
  return errorText<std::runtime_error>(call);
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__RUNTIME_ERROR_TEXT_HPP_
