// SPDX-License-Identifier: Apache-2.0
// The progress of a run over many frames, on standard error: one line rewritten in place on
// a terminal, one plain line per finished frame anywhere else (a log file, a CI job). While
// the line is in place, a log line (rcutils' output) clears it first, so that no message
// lands inside it; the line is drawn again with the next finished frame.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PROGRESS_REPORTER_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PROGRESS_REPORTER_HPP_

#include <chrono>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

namespace vantorel_tools {

class ProgressReporter {
 public:
  // `in_place`: rewrite one line with carriage returns; otherwise write a line per frame.
  ProgressReporter(std::ostream& out, std::size_t total, bool in_place);
  ~ProgressReporter();
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // Called from any thread when a frame is done; `status` describes how it went.
  void frameFinished(const std::string& name, bool ok, const std::string& status);

  // Ends the in-place line, so that what follows starts on a line of its own.
  void finish();

  // "42 s", "3:05" or "1:02:03".
  static std::string formatDuration(double seconds);

  // Clears the in-place line for a message about to be written; the next finished frame
  // draws it again.
  void clearLine();

 private:
  using Clock = std::chrono::steady_clock;

  std::string progressText(double elapsed) const;
  void draw(Clock::time_point now);

  std::mutex mutex_;
  std::ostream& out_;
  std::size_t total_;
  bool in_place_;
  std::size_t done_ = 0;
  std::size_t failed_ = 0;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  bool finished_ = false;
};

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__PROGRESS_REPORTER_HPP_
