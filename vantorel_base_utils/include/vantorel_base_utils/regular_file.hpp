// SPDX-License-Identifier: Apache-2.0
// Whole files read without waiting on pipes or devices and without reading past a size
// bound: what the library's own readers use, for callers that read input files the same way.
#ifndef VANTOREL_BASE_UTILS__REGULAR_FILE_HPP_
#define VANTOREL_BASE_UTILS__REGULAR_FILE_HPP_

#include <cstddef>
#include <stdexcept>
#include <string>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Why a file was not read; what() is a short phrase without the path ("not a regular file").
class VANTOREL_BASE_UTILS_PUBLIC FileReadError : public std::runtime_error {
 public:
  enum class Reason { kCannotOpen, kNotRegular, kTooLarge, kReadFailed };
  FileReadError(Reason reason, const std::string& text)
      : std::runtime_error(text), reason_(reason) {}
  // Defined in the library, so that its type information is exported once and callers catch
  // what the library throws.
  ~FileReadError() override;
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
};

// Checks that `path` names a regular file of at most `max_bytes` bytes, without reading it.
// Opening never blocks: a FIFO without a writer is refused, not waited on. Throws
// FileReadError.
VANTOREL_BASE_UTILS_PUBLIC void checkRegularFile(const std::string& path, std::size_t max_bytes);

// The whole content of the regular file at `path`, checked as above; a file that grows past
// `max_bytes` while it is read is refused too. Throws FileReadError.
VANTOREL_BASE_UTILS_PUBLIC std::string readRegularFile(const std::string& path,
                                                       std::size_t max_bytes);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__REGULAR_FILE_HPP_
