// SPDX-License-Identifier: Apache-2.0
// Files replaced in an output folder as one set: all of them or none, never through names
// that someone else could have placed, and one run's set at a time.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__OUTPUT_FOLDER_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__OUTPUT_FOLDER_HPP_

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vantorel_tools {

// New versions of files in `dir`, staged in a private folder inside it: created with an
// unpredictable name by mkdtemp (mode 0700, never through a link), so nobody else can place
// or swap anything there, and on the same file system as the targets.
//
// A run that dies (SIGKILL, power loss) loses nothing either: the staging folder stays
// locked while its run lives, and the commit writes a journal before it moves the first
// file. Whoever next stages into `dir` (or calls repairOutputFolder) first repairs what
// dead runs left, under the folder's lock: a set whose journal was written is moved in whole, any
// other staging folder is removed, so the folder holds either the old set or the new one.
class StagedOutputs {
 public:
  // Repairs what dead runs left in `dir`, then creates the staging folder. Throws
  // std::runtime_error when either fails.
  explicit StagedOutputs(const std::string& dir);
  // Removes the staging folder with whatever is still in it.
  ~StagedOutputs();
  StagedOutputs(const StagedOutputs&) = delete;
  StagedOutputs& operator=(const StagedOutputs&) = delete;

  // Where the new `name` is staged; whoever writes it there creates the file.
  std::string pathOf(const std::string& name) const;

  // Stages `bytes` as the new `name`, flushed to disk. Throws std::runtime_error naming the
  // target in `dir`.
  void write(const std::string& name, const std::string& bytes);

  // The same, with the bytes written by `render` as it makes them, so that a large file is
  // never held whole.
  void writeWith(const std::string& name, const std::function<void(std::ostream&)>& render);

  // Moves the staged files over their targets while holding the folder's lock file
  // (".vantorel_frame_points.lock"), so that runs into one folder replace their sets one
  // after another. Afterwards every target holds its new file; on failure, which throws
  // std::runtime_error, every target holds what it held before. A replaced file keeps its
  // permission bits; a target that is a link is replaced, not followed. The files named in
  // `retired`, outputs of earlier runs that this set has not, are removed in the same way:
  // all of them with the commit, or none.
  void commit(const std::vector<std::string>& names, const std::vector<std::string>& retired = {});

 private:
  std::filesystem::path dir_;
  std::filesystem::path staging_;
  int staging_fd_ = -1;  // holds the lock that tells other runs this staging folder is alive
};

// What dead runs left in `dir`, repaired under the folder's lock as StagedOutputs does, so
// that a run that fails before it writes anything still leaves the folder whole. Nothing
// when `dir` does not exist; throws std::runtime_error when the lock cannot be taken.
void repairOutputFolder(const std::string& dir);

// For tests of the commit's journal only: when the environment variable
// VANTOREL_FRAME_POINTS_EXIT_AT_STEP holds N, the process ends with _exit(kStepExitStatus) at
// the N-th step of staging and committing a set, as a SIGKILL there would.
constexpr int kStepExitStatus = 86;

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__OUTPUT_FOLDER_HPP_
