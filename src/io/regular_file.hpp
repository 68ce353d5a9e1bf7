// Whole files read without waiting on pipes or devices and without reading past a size
// bound; internal to the library (the command-line tools compile it in as well).
#ifndef VANTOREL_BASE_UTILS__IO__REGULAR_FILE_HPP_
#define VANTOREL_BASE_UTILS__IO__REGULAR_FILE_HPP_

#include <cstddef>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace vantorel_base_utils {

// Why a file was not read; what() is a short phrase without the path ("not a regular file").
class FileReadError : public std::runtime_error {
 public:
  enum class Reason { kCannotOpen, kNotRegular, kTooLarge, kReadFailed };
  FileReadError(Reason reason, const std::string& text)
      : std::runtime_error(text), reason_(reason) {}
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
};

// Checks that `path` names a regular file of at most `max_bytes` bytes, without reading it.
// Opening never blocks: a FIFO without a writer is refused, not waited on. Throws
// FileReadError.
void checkRegularFile(const std::string& path, std::size_t max_bytes);

// The whole content of the regular file at `path`, checked as above; a file that grows past
// `max_bytes` while it is read is refused too. Throws FileReadError.
std::string readRegularFile(const std::string& path, std::size_t max_bytes);

// A read-only stream over text already in memory, for readers that take a std::istream,
// without copying the text.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string& text) {
    setg(text.data(), text.data(), text.data() + text.size());
  }
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__IO__REGULAR_FILE_HPP_
