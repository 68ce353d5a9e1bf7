// SPDX-License-Identifier: Apache-2.0
#include "frame_sequence.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <system_error>
#include <thread>

#include <opencv2/core/utility.hpp>

#include "printable_text.hpp"
#include "progress_reporter.hpp"
#include "stop_signals.hpp"

namespace vantorel_tools {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kToolName = "vantorel_frame_points";

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> entryNames(const std::string& dir) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) {
    throw InputError(dir + ": not a folder (--sequence takes a folder of frame folders)");
  }
  std::vector<std::string> names;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  if (error) {
    throw InputError(dir + ": cannot list: " + error.message());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool holdsFrameFiles(const fs::path& folder) {
  FrameOptions files;
  useFrameFolder(files, folder.string());
  std::error_code error;
  for (const std::string* path : {&files.detections_path, &files.depth_path, &files.camera_path,
                                  &files.camera_to_arm_base_path, &files.arm_base_to_map_path}) {
    if (fs::exists(*path, error)) {
      return true;
    }
  }
  return false;
}

std::string statusOf(const FrameOutcome& outcome) {
  if (!outcome.ran) {
    return "not run: " + outcome.error;
  }
  if (!outcome.ok) {
    return "failed: " + outcome.error;
  }
  std::ostringstream status;
  status << "ok, " << outcome.counts.instances << " instances, " << outcome.counts.points
         << " points, " << std::fixed << std::setprecision(0) << outcome.milliseconds << " ms";
  return status.str();
}

// A failing frame leaves at most an empty output folder behind, which goes again unless an
// earlier run had made it.
FrameOutcome runOneFrame(const SequenceSettings& settings, const std::string& name,
                         const FrameOptions& common, const FrameJob& job) {
  FrameOutcome outcome;
  outcome.name = name;
  FrameOptions frame = common;
  useFrameFolder(frame, (fs::path(settings.dir) / name).string());
  const fs::path output_dir = fs::path(settings.output_root) / name;
  std::error_code error;
  const bool had_output_dir = fs::exists(output_dir, error) || error;
  const Clock::time_point start = Clock::now();
  outcome.ran = true;
  try {
    outcome.counts = job(frame, output_dir.string());
    outcome.ok = true;
  } catch (const Interrupted& e) {
    outcome.ran = false;
    outcome.error = e.what();
  } catch (const std::exception& e) {
    outcome.error = e.what();
  } catch (...) {
    outcome.error = "failed with an unknown exception";
  }
  outcome.milliseconds = millisecondsSince(start);
  if (!outcome.ok && !had_output_dir) {
    fs::remove(output_dir, error);  // removes a folder only while it is empty
  }
  return outcome;
}

}  // namespace

SequenceListing listSequence(const std::string& dir) {
  SequenceListing listing;
  for (const std::string& name : entryNames(dir)) {
    const fs::path path = fs::path(dir) / name;
    std::error_code error;
    if (name[0] == '.') {
      continue;
    }
    if (!fs::is_directory(path, error)) {
      listing.skipped.push_back(path.string() + ": not a folder");
    } else if (!holdsFrameFiles(path)) {
      listing.skipped.push_back(path.string() +
                                ": holds none of the frame files (detections.json, depth.png, "
                                "camera.yaml, camera_to_arm_base.json, arm_base_to_map.json)");
    } else {
      listing.frames.push_back(name);
    }
  }
  return listing;
}

SequenceRun runSequence(const SequenceSettings& settings, const std::vector<std::string>& frames,
                        const FrameOptions& common, const FrameJob& job,
                        std::ostream& progress_out) {
  SequenceRun run;
  run.frames.resize(frames.size());
  const std::size_t wanted = std::min<std::size_t>(std::max(settings.jobs, 1U), frames.size());
  if (wanted > 1) {
    // The workers fill the cores already; OpenCV's own pool on top would only oversubscribe.
    cv::setNumThreads(0);
  }
  ProgressReporter progress(progress_out, frames.size(), settings.progress_in_place);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    run.frames[i].name = frames[i];
  }
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < frames.size() && stopSignal() == 0; i = next++) {
      run.frames[i] = runOneFrame(settings, frames[i], common, job);
      progress.frameFinished(printable(frames[i]), run.frames[i].ok,
                             printable(statusOf(run.frames[i])));
    }
  };
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (std::size_t w = 1; w < wanted; ++w) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads already started, and this one, share the frames
    }
  }
  work();
  for (std::thread& thread : threads) {
    thread.join();
  }
  progress.finish();
  run.workers = static_cast<unsigned>(threads.size() + 1);
  run.seconds = millisecondsSince(start) / 1000.0;
  run.stop_signal = stopSignal();
  return run;
}

void printSequenceSummary(std::ostream& out, const SequenceRun& run) {
  std::size_t width = 5;
  std::size_t failed = 0;
  std::size_t not_run = 0;
  for (const FrameOutcome& frame : run.frames) {
    width = std::max(width, printable(frame.name).size());
    failed += frame.ran && !frame.ok ? 1 : 0;
    not_run += frame.ran ? 0 : 1;
  }
  const auto flags = out.flags();
  const auto precision = out.precision();
  out << std::left << std::setw(static_cast<int>(width + 2)) << "frame" << std::right
      << std::setw(10) << "instances" << std::setw(10) << "points" << std::setw(10) << "ms"
      << "  status\n";
  for (const FrameOutcome& frame : run.frames) {
    out << std::left << std::setw(static_cast<int>(width + 2)) << printable(frame.name)
        << std::right;
    if (frame.ok) {
      out << std::setw(10) << frame.counts.instances << std::setw(10) << frame.counts.points;
    } else {
      out << std::setw(10) << "-" << std::setw(10) << "-";
    }
    if (frame.ran) {
      out << std::fixed << std::setprecision(1) << std::setw(10) << frame.milliseconds << "  "
          << (frame.ok ? "ok" : "FAILED") << "\n";
    } else {
      out << std::setw(10) << "-"
          << "  not run\n";
    }
  }
  const double rate =
      run.seconds > 0.0 ? static_cast<double>(run.frames.size()) / run.seconds : 0.0;
  out << run.frames.size() - failed - not_run << " of " << run.frames.size() << " frames written, "
      << failed << " failed";
  if (run.stop_signal != 0) {
    out << ", " << not_run << " not run (stopped by " << signalName(run.stop_signal) << ")";
  }
  out << "; " << std::fixed << std::setprecision(2) << run.seconds << " s on " << run.workers
      << (run.workers == 1 ? " thread" : " threads") << " (" << std::setprecision(1) << rate
      << " frames/s)\n";
  out.flags(flags);
  out.precision(precision);
}

int runSequenceCommand(const SequenceSettings& settings, const FrameOptions& common,
                       const FrameJob& job, std::ostream& out, std::ostream& err) {
  const SequenceListing listing = listSequence(settings.dir);
  for (const std::string& skipped : listing.skipped) {
    err << kToolName << ": skipping " << printable(skipped) << "\n";
  }
  if (listing.frames.empty()) {
    throw InputError(settings.dir + ": no frame folders in it");
  }
  const SequenceRun run = runSequence(settings, listing.frames, common, job, err);
  printSequenceSummary(out, run);
  out << std::flush;
  bool all_ok = true;
  for (const FrameOutcome& frame : run.frames) {
    if (frame.ran && !frame.ok) {
      err << kToolName << ": frame " << printable(frame.name)
          << " failed: " << printable(frame.error) << "\n";
      all_ok = false;
    }
  }
  if (run.stop_signal != 0) {
    return exitStatusFor(run.stop_signal);
  }
  return all_ok ? 0 : 1;
}

FrameCounts countsOf(const FrameResult& result) {
  FrameCounts counts;
  counts.instances = result.detections.instances.size();
  for (const auto& instance : result.detections.instances) {
    counts.points += instance.points.size();
  }
  return counts;
}

unsigned defaultJobs() {
  return std::max(std::thread::hardware_concurrency(), 1U);
}

}  // namespace vantorel_tools
