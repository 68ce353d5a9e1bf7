// SPDX-License-Identifier: Apache-2.0
#include "output_folder.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <system_error>
#include <thread>
#include <utility>

namespace vantorel_tools {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockName = ".vantorel_frame_points.lock";
constexpr const char* kStagingPrefix = ".vantorel_frame_points.";
// Written into the staging folder once every new file and every kept previous version is in
// place: from then on the set is moved in whole, by this run or by the next one.
constexpr const char* kJournalName = "commit";
// The only names a journal may move or remove: what the tool writes.
const std::set<std::string> kOutputNames = {"points.json", "points.ply", "points.pcd",
                                            "overlay.png", "organized.pcd"};

// The test hook of kStepExitStatus: the step to die at, read once; 0 for none.
long stepToExitAt() {
  static const long step = [] {
    const char* text = std::getenv("VANTOREL_FRAME_POINTS_EXIT_AT_STEP");
    return text == nullptr ? 0L : std::strtol(text, nullptr, 10);
  }();
  return step;
}

void stepDone() {
  static std::atomic<long> steps{0};
  if (stepToExitAt() > 0 && ++steps == stepToExitAt()) {
    ::_exit(kStepExitStatus);
  }
}
// Another run holds the lock only while it renames three files; much longer means it hangs.
constexpr std::chrono::seconds kLockWait{30};

[[noreturn]] void fail(const fs::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

[[noreturn]] void failWithErrno(const fs::path& path, const std::string& what, int error = errno) {
  fail(path, what + ": " + std::strerror(error));
}

// The lock file in the output folder, held exclusively for the object's lifetime.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& dir) : path_(dir / kLockName) {
    // Read-only is enough to lock, and lets every user who can read the file take its turn.
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      failWithErrno(path_, "cannot open the lock file");
    }
    try {
      acquire();
    } catch (...) {
      ::close(fd_);
      throw;
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { ::close(fd_); }  // releases the lock

 private:
  void acquire() {
    struct stat status {};
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
      fail(path_, "the lock file is not a regular file");
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        failWithErrno(path_, "cannot lock");
      }
      if (std::chrono::steady_clock::now() > deadline) {
        fail(path_, "held by another run for " + std::to_string(kLockWait.count()) + " s");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  fs::path path_;
  int fd_ = -1;
};

// One target and where its new and previous versions wait; no new version retires it.
struct Replacement {
  fs::path staged;
  fs::path target;
  fs::path previous;
  bool retire = false;
  bool kept_previous = false;
  bool replaced = false;
};

// Keeps the target's present version aside, as a second link to it or, on file systems
// without links, by moving it, and hands its permission bits to the staged file.
void prepare(Replacement& r) {
  struct stat status {};
  if (::lstat(r.target.c_str(), &status) != 0) {
    if (errno == ENOENT) {
      return;
    }
    failWithErrno(r.target, "cannot inspect");
  }
  if (S_ISDIR(status.st_mode)) {
    fail(r.target, "is a directory");
  }
  if (!r.retire && S_ISREG(status.st_mode) &&
      ::chmod(r.staged.c_str(), status.st_mode & 07777) != 0) {
    failWithErrno(r.target, "cannot set permissions");
  }
  if (::link(r.target.c_str(), r.previous.c_str()) != 0 &&
      ::rename(r.target.c_str(), r.previous.c_str()) != 0) {
    failWithErrno(r.target, "cannot keep the previous version");
  }
  r.kept_previous = true;
}

// The previous version is kept aside already (as a second link, or moved there).
void removeTarget(const Replacement& r) {
  if (r.kept_previous && ::unlink(r.target.c_str()) != 0 && errno != ENOENT) {
    failWithErrno(r.target, "cannot remove");
  }
}

// Best effort: it runs while another failure is already being reported.
void restore(const std::vector<Replacement>& replacements) {
  for (const Replacement& r : replacements) {
    if (r.kept_previous) {
      (void)::rename(r.previous.c_str(), r.target.c_str());
    } else if (r.replaced) {
      (void)::unlink(r.target.c_str());
    }
  }
}

void syncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);  // best effort: the renames have already succeeded
    ::close(fd);
  }
}

void writeAllOrFail(int fd, const char* data, std::size_t left, const fs::path& target) {
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      failWithErrno(target, "cannot write");
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

// Write-back errors can surface only here.
void syncAndClose(int fd, const fs::path& target) {
  const int flush_error = ::fsync(fd) == 0 ? 0 : errno;
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  if (flush_error != 0 || close_error != 0) {
    failWithErrno(target, "cannot write", flush_error != 0 ? flush_error : close_error);
  }
}

int createStagedFile(const fs::path& staged, const fs::path& target) {
  const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    failWithErrno(target, "cannot write");
  }
  return fd;
}

// A stream onto a file descriptor that remembers the first write error instead of throwing
// from inside the stream machinery.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof(buffer_)); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    const char* data = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
      const ssize_t n = ::write(fd_, data, left);
      if (n < 0 && errno != EINTR) {
        error_ = errno;
      } else if (n > 0) {
        data += n;
        left -= static_cast<std::size_t>(n);
      }
    }
    setp(buffer_, buffer_ + sizeof(buffer_));
    return error_ == 0 ? 0 : -1;
  }

 private:
  int fd_;
  int error_ = 0;
  char buffer_[1 << 16];
};

// What a journal holds: the names to move in, then those to remove, one a line.
std::string journalText(const std::vector<std::string>& names,
                        const std::vector<std::string>& retired) {
  std::string text;
  for (const std::string& name : names) {
    text += "put " + name + "\n";
  }
  for (const std::string& name : retired) {
    text += "retire " + name + "\n";
  }
  return text;
}

// Written aside and renamed into place, so that a journal is whole or absent.
void writeJournal(const fs::path& staging, const std::string& text) {
  const fs::path partial = staging / (std::string(kJournalName) + ".partial");
  const int fd = createStagedFile(partial, staging / kJournalName);
  writeAllOrFail(fd, text.data(), text.size(), staging / kJournalName);
  syncAndClose(fd, staging / kJournalName);
  if (::rename(partial.c_str(), (staging / kJournalName).c_str()) != 0) {
    failWithErrno(staging / kJournalName, "cannot write");
  }
  syncDirectory(staging);
}

// Moves in what the journal of a dead run names; a name whose staged file is gone was moved
// already.
void rollForward(const fs::path& dir, const fs::path& staging) {
  std::ifstream journal(staging / kJournalName);
  for (std::string verb, name; journal >> verb >> name;) {
    if (kOutputNames.count(name) == 0) {
      continue;
    }
    if (verb == "put") {
      (void)::rename((staging / name).c_str(), (dir / name).c_str());
    } else if (verb == "retire") {
      (void)::unlink((dir / name).c_str());
    }
  }
}

// A dead run without a journal moved nothing in; only a previous version it had to move
// aside (on file systems without links) goes back.
void rollBack(const fs::path& dir, const fs::path& staging) {
  for (const std::string& name : kOutputNames) {
    const fs::path previous = staging / (name + ".previous");
    struct stat status {};
    if (::lstat((dir / name).c_str(), &status) != 0 && errno == ENOENT) {
      (void)::rename(previous.c_str(), (dir / name).c_str());
    }
  }
}

// A staging folder of ours whose run has died: its lock is free.
bool isDeadStaging(const fs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != ::geteuid()) {
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool dead = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return dead;
}

// Called with the folder's lock held.
void repairDeadRuns(const fs::path& dir) {
  std::error_code error;
  std::vector<fs::path> dead;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kStagingPrefix, 0) == 0 && name != kLockName && isDeadStaging(it->path())) {
      dead.push_back(it->path());
    }
  }
  for (const fs::path& staging : dead) {
    if (fs::exists(staging / kJournalName, error)) {
      rollForward(dir, staging);
    } else {
      rollBack(dir, staging);
    }
    syncDirectory(dir);
    fs::remove_all(staging, error);
  }
}

}  // namespace

StagedOutputs::StagedOutputs(const std::string& dir) : dir_(dir) {
  // Under the folder's lock, so that no other run takes the new folder for a dead one before
  // it is locked.
  const FolderLock lock(dir_);
  repairDeadRuns(dir_);
  stepDone();
  std::string pattern = (dir_ / (std::string(kStagingPrefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    failWithErrno(dir_, "cannot create a staging folder");
  }
  staging_ = pattern;
  staging_fd_ = ::open(staging_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (staging_fd_ < 0 || ::flock(staging_fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    std::error_code ignored;
    fs::remove_all(staging_, ignored);
    if (staging_fd_ >= 0) {
      ::close(staging_fd_);
    }
    failWithErrno(dir_, "cannot lock a staging folder", error);
  }
}

void repairOutputFolder(const std::string& dir) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) {
    return;
  }
  const FolderLock lock(dir);
  repairDeadRuns(dir);
}

StagedOutputs::~StagedOutputs() {
  std::error_code ignored;
  fs::remove_all(staging_, ignored);
  ::close(staging_fd_);
}

std::string StagedOutputs::pathOf(const std::string& name) const {
  return (staging_ / name).string();
}

void StagedOutputs::write(const std::string& name, const std::string& bytes) {
  writeWith(name, [&](std::ostream& out) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  });
}

void StagedOutputs::writeWith(const std::string& name,
                              const std::function<void(std::ostream&)>& render) {
  const fs::path target = dir_ / name;
  const int fd = createStagedFile(pathOf(name), target);
  DescriptorBuffer buffer(fd);
  try {
    std::ostream out(&buffer);
    render(out);
    out.flush();
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (buffer.error() != 0) {
    ::close(fd);
    failWithErrno(target, "cannot write", buffer.error());
  }
  syncAndClose(fd, target);
  stepDone();
}

void StagedOutputs::commit(const std::vector<std::string>& names,
                           const std::vector<std::string>& retired) {
  const FolderLock lock(dir_);
  std::vector<Replacement> replacements;
  for (const std::string& name : names) {
    replacements.push_back({staging_ / name, dir_ / name, staging_ / (name + ".previous")});
  }
  for (const std::string& name : retired) {
    replacements.push_back({{}, dir_ / name, staging_ / (name + ".previous"), true});
  }
  repairDeadRuns(dir_);
  try {
    for (Replacement& r : replacements) {
      prepare(r);
      stepDone();
    }
    writeJournal(staging_, journalText(names, retired));
    stepDone();
    for (Replacement& r : replacements) {
      if (r.retire) {
        removeTarget(r);
      } else if (::rename(r.staged.c_str(), r.target.c_str()) != 0) {
        failWithErrno(r.target, "cannot replace");
      } else {
        r.replaced = true;
      }
      stepDone();
    }
  } catch (...) {
    // Without its journal a dead run's staging folder is only removed, never moved in.
    (void)::unlink((staging_ / kJournalName).c_str());
    restore(replacements);
    throw;
  }
  syncDirectory(dir_);
}

}  // namespace vantorel_tools
