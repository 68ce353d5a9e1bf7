// SPDX-License-Identifier: Apache-2.0
#include "progress_reporter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include <rcutils/logging.h>

namespace vantorel_tools {

namespace {

// The reporter whose line is in place, if any, and the log output it goes before.
std::mutex g_in_place_mutex;
ProgressReporter* g_in_place = nullptr;
rcutils_logging_output_handler_t g_log_output = nullptr;

void clearLineThenLog(const rcutils_log_location_t* location, int severity, const char* name,
                      rcutils_time_point_value_t timestamp, const char* format, va_list* args) {
  const std::lock_guard<std::mutex> lock(g_in_place_mutex);
  if (g_in_place != nullptr) {
    g_in_place->clearLine();
  }
  if (g_log_output != nullptr) {
    g_log_output(location, severity, name, timestamp, format, args);
  }
}

void stopClearingForLogs(const ProgressReporter* reporter) {
  const std::lock_guard<std::mutex> lock(g_in_place_mutex);
  if (g_in_place == reporter) {
    rcutils_logging_set_output_handler(g_log_output);
    g_in_place = nullptr;
  }
}

// Redrawing a terminal line more often than this only flickers.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Clears what a longer earlier version of the line left to the right of the cursor.
constexpr const char* kClearToLineEnd = "\x1b[K";

}  // namespace

ProgressReporter::ProgressReporter(std::ostream& out, std::size_t total, bool in_place)
    : out_(out), total_(total), in_place_(in_place), start_(Clock::now()), last_draw_(start_) {
  if (in_place_) {
    draw(start_);
    const std::lock_guard<std::mutex> lock(g_in_place_mutex);
    if (g_in_place == nullptr) {  // one line in place at a time
      g_log_output = rcutils_logging_get_output_handler();
      g_in_place = this;
      rcutils_logging_set_output_handler(clearLineThenLog);
    }
  }
}

ProgressReporter::~ProgressReporter() {
  stopClearingForLogs(this);
}

void ProgressReporter::clearLine() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (in_place_ && !finished_) {
    out_ << '\r' << kClearToLineEnd << std::flush;
    last_draw_ = start_ - kRedrawInterval;  // drawn again with the next frame
  }
}

void ProgressReporter::frameFinished(const std::string& name, bool ok, const std::string& status) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  failed_ += ok ? 0 : 1;
  const Clock::time_point now = Clock::now();
  if (!in_place_) {
    out_ << '[' << done_ << '/' << total_ << "] " << name << ": " << status << '\n' << std::flush;
  } else if (now - last_draw_ >= kRedrawInterval) {
    draw(now);
  }
}

void ProgressReporter::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (in_place_ && !finished_) {
    draw(Clock::now());
    out_ << '\n' << std::flush;
  }
  finished_ = true;
}

std::string ProgressReporter::formatDuration(double seconds) {
  const long whole = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (whole < 60) {
    std::snprintf(text, sizeof(text), "%ld s", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof(text), "%ld:%02ld", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  }
  return text;
}

std::string ProgressReporter::progressText(double elapsed) const {
  std::ostringstream text;
  text << done_ << '/' << total_ << " frames";
  if (failed_ > 0) {
    text << " (" << failed_ << " failed)";
  }
  if (done_ > 0 && elapsed > 0.0) {
    const double rate = static_cast<double>(done_) / elapsed;
    text << ", " << std::fixed << std::setprecision(1) << rate << " frames/s";
    if (done_ < total_) {
      text << ", " << formatDuration(static_cast<double>(total_ - done_) / rate) << " left";
    }
  }
  return text.str();
}

void ProgressReporter::draw(Clock::time_point now) {
  last_draw_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  out_ << '\r' << progressText(elapsed) << kClearToLineEnd << std::flush;
}

}  // namespace vantorel_tools
