// SPDX-License-Identifier: Apache-2.0
// Shared set-up of the fuzz targets.
#ifndef VANTOREL_BASE_UTILS__FUZZ__FUZZ_SUPPORT_HPP_
#define VANTOREL_BASE_UTILS__FUZZ__FUZZ_SUPPORT_HPP_

#include <cstddef>
#include <cstdint>
#include <string>

#include <rclcpp/logger.hpp>

namespace vantorel_fuzz {

// A logger whose records are formatted in full (so format and argument mismatches still
// surface under the sanitizers) and then dropped instead of flooding the fuzzer's output.
const rclcpp::Logger& quietLogger();

// A file path private to this process (and to `suffix`), removed when the process exits.
// Targets that read files rewrite it for every input instead of creating a file each time.
const std::string& scratchFile(const std::string& suffix);

// Replaces the content of `path` with the bytes; aborts when the file cannot be written,
// since every later result would be meaningless.
void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Reports a broken invariant and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void fail(const char* invariant, const char* file, int line);

}  // namespace vantorel_fuzz

// Variadic so that conditions with template commas need no extra parentheses.
#define VANTOREL_FUZZ_CHECK(...)                               \
  do {                                                         \
    if (!(__VA_ARGS__)) {                                      \
      ::vantorel_fuzz::fail(#__VA_ARGS__, __FILE__, __LINE__); \
    }                                                          \
  } while (false)

#endif  // VANTOREL_BASE_UTILS__FUZZ__FUZZ_SUPPORT_HPP_
