// SPDX-License-Identifier: Apache-2.0
// Captures what the code under test prints on std::cout and std::cerr.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__CONSOLE_CAPTURE_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__CONSOLE_CAPTURE_HPP_

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "support/temp_dir.hpp"

namespace vantorel_test {

// While alive, what is inserted into `stream` is kept instead of printed. For one thread.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream)
      : stream_(stream), previous_(stream.rdbuf(captured_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(previous_); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  // What was inserted since the capture began or since the last take().
  std::string take() {
    std::string text = captured_.str();
    captured_.str("");
    return text;
  }

 private:
  std::ostream& stream_;
  std::ostringstream captured_;
  std::streambuf* previous_;
};

// Sends what the library prints on std::cout and std::cerr to a file while alive. Only file
// descriptor 1 moves: std::cerr is pointed at std::cout's buffer, which stays synchronised
// with stdio, so concurrent insertions do not race, and the sanitizers still report on the
// real standard error.
class ConsoleToFile {
 public:
  explicit ConsoleToFile(const std::string& path) : path_(path) {
    std::fflush(nullptr);
    std::FILE* file = std::fopen(path.c_str(), "w");
    saved_out_ = ::dup(1);
    ::dup2(::fileno(file), 1);
    std::fclose(file);
    saved_cerr_ = std::cerr.rdbuf(std::cout.rdbuf());
  }
  ~ConsoleToFile() { restore(); }
  ConsoleToFile(const ConsoleToFile&) = delete;
  ConsoleToFile& operator=(const ConsoleToFile&) = delete;

  // Restores the console and returns what was written.
  std::string finish() {
    restore();
    return readFile(path_);
  }

 private:
  void restore() {
    if (saved_out_ < 0) {
      return;
    }
    std::cerr.rdbuf(saved_cerr_);
    std::cout.flush();
    std::fflush(nullptr);
    ::dup2(saved_out_, 1);
    ::close(saved_out_);
    saved_out_ = -1;
  }

  std::string path_;
  int saved_out_ = -1;
  std::streambuf* saved_cerr_ = nullptr;
};

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__CONSOLE_CAPTURE_HPP_
