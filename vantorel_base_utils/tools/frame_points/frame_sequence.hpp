// SPDX-License-Identifier: Apache-2.0
// A recorded sequence: a folder of frame folders, each run as one frame on its own, several
// frames at a time.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_SEQUENCE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_SEQUENCE_HPP_

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "frame_pipeline.hpp"

namespace vantorel_tools {

struct SequenceListing {
  std::vector<std::string> frames;   // names of the frame folders, sorted
  std::vector<std::string> skipped;  // "<path>: <why it is no frame>"
};

// The frames of `dir`: every folder (or link to one) holding at least one of the files of a
// frame folder (see useFrameFolder). A frame that misses some of them fails when it runs,
// naming what is missing. Other entries are skipped with a reason, except hidden ones (a
// name starting with '.'), which are skipped silently. Throws InputError when `dir` is not a
// readable folder.
SequenceListing listSequence(const std::string& dir);

struct FrameCounts {
  std::size_t instances = 0;
  std::size_t points = 0;
};

// The whole work of one frame, from its input files to its outputs in `output_dir`; throws
// on failure. Called from several threads at once.
using FrameJob =
    std::function<FrameCounts(const FrameOptions& frame, const std::string& output_dir)>;

struct FrameOutcome {
  std::string name;
  bool ran = false;  // false: not started, or rolled back, for a stop signal
  bool ok = false;
  FrameCounts counts;
  double milliseconds = 0.0;
  std::string error;  // why it failed
};

struct SequenceSettings {
  std::string dir;
  std::string output_root;  // frame F writes into output_root/F
  unsigned jobs = 1;        // frames at a time
  bool progress_in_place = false;
};

struct SequenceRun {
  std::vector<FrameOutcome> frames;  // in the order of the listing
  unsigned workers = 1;
  double seconds = 0.0;
  int stop_signal = 0;  // the signal that stopped the run early (stop_signals.hpp), or 0
};

// Runs every frame of `frames` with the inputs of its folder in settings.dir and every other
// option from `common`, on up to settings.jobs threads, reporting each finished frame to
// `progress_out`. A failing frame stops nothing else and leaves no new output folder. After
// a stop signal no frame is started; a frame that the job rolls back for it (throwing
// Interrupted) counts as not run.
SequenceRun runSequence(const SequenceSettings& settings, const std::vector<std::string>& frames,
                        const FrameOptions& common, const FrameJob& job,
                        std::ostream& progress_out);

// One row per frame (instances, points, milliseconds, status), then the totals. Names are
// printed escaped (printable_text.hpp).
void printSequenceSummary(std::ostream& out, const SequenceRun& run);

// The tool's --sequence run: lists settings.dir (naming on `err` what it skips), runs every
// frame with its progress on `err`, prints the summary on `out` and one line on `err` for
// each failed frame. Returns the exit status: 0 when every frame succeeded, 128 + the signal
// when a stop signal ended the run early, else 1. Throws InputError when there is no frame
// to run.
int runSequenceCommand(const SequenceSettings& settings, const FrameOptions& common,
                       const FrameJob& job, std::ostream& out, std::ostream& err);

FrameCounts countsOf(const FrameResult& result);

// One core per frame at a time: std::thread::hardware_concurrency, at least 1.
unsigned defaultJobs();

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_SEQUENCE_HPP_
