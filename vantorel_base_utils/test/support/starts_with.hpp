// SPDX-License-Identifier: Apache-2.0
// Prefix assertion that prints both texts on failure.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__STARTS_WITH_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__STARTS_WITH_HPP_

#include <gtest/gtest.h>

#include <string>

namespace vantorel_test {

inline ::testing::AssertionResult startsWith(const std::string& text, const std::string& prefix) {
  if (text.compare(0, prefix.size(), prefix) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "\"" << text.substr(0, 300) << "\" does not start with \"" << prefix << "\"";
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__STARTS_WITH_HPP_
