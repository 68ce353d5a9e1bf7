// SPDX-License-Identifier: Apache-2.0
#include "output_folder.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace vantorel_tools {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockName = ".vantorel_frame_points.lock";
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

}  // namespace

StagedOutputs::StagedOutputs(const std::string& dir) : dir_(dir) {
  std::string pattern = (dir_ / ".vantorel_frame_points.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    failWithErrno(dir_, "cannot create a staging folder");
  }
  staging_ = pattern;
}

StagedOutputs::~StagedOutputs() {
  std::error_code ignored;
  fs::remove_all(staging_, ignored);
}

std::string StagedOutputs::pathOf(const std::string& name) const {
  return (staging_ / name).string();
}

void StagedOutputs::write(const std::string& name, const std::string& bytes) {
  const fs::path target = dir_ / name;
  const int fd =
      ::open(pathOf(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    failWithErrno(target, "cannot write");
  }
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      failWithErrno(target, "cannot write", error);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  // Write-back errors can surface only here.
  const int flush_error = ::fsync(fd) == 0 ? 0 : errno;
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  if (flush_error != 0 || close_error != 0) {
    failWithErrno(target, "cannot write", flush_error != 0 ? flush_error : close_error);
  }
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
  try {
    for (Replacement& r : replacements) {
      prepare(r);
    }
    for (Replacement& r : replacements) {
      if (r.retire) {
        removeTarget(r);
      } else if (::rename(r.staged.c_str(), r.target.c_str()) != 0) {
        failWithErrno(r.target, "cannot replace");
      } else {
        r.replaced = true;
      }
    }
  } catch (...) {
    restore(replacements);
    throw;
  }
  syncDirectory(dir_);
}

}  // namespace vantorel_tools
