// The text of the std::runtime_error a call throws, for exact comparisons of messages.
#ifndef VANTOREL_TEST_SUPPORT__RUNTIME_ERROR_TEXT_HPP_
#define VANTOREL_TEST_SUPPORT__RUNTIME_ERROR_TEXT_HPP_

#include <functional>
#include <stdexcept>
#include <string>

namespace vantorel_test {

// "no std::runtime_error" when the call returns normally; other exceptions pass through.
inline std::string runtimeErrorText(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no std::runtime_error";
}

}  // namespace vantorel_test

#endif  // VANTOREL_TEST_SUPPORT__RUNTIME_ERROR_TEXT_HPP_
