// SPDX-License-Identifier: Apache-2.0
// JSON files written atomically and read back, failures logged rather than thrown.
#include "vantorel_base_utils/json_utils.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <istream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <rclcpp/logging.hpp>

#include "io/text_buffer.hpp"
#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_base_utils {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

using nlohmann::json;

// Symbolic links followed before the chain counts as a loop, as the kernel counts them.
constexpr int kMaxLinkHops = 40;

std::string tooDeep() {
  return "nested deeper than " + std::to_string(kJsonMaxDepth) + " levels";
}

// Container nesting of a document ("[[1]]" is 2 levels), walked without recursion and given
// up as soon as it passes `max_depth`.
bool nestedDeeperThan(const json& root, std::size_t max_depth) {
  if (!root.is_structured()) {
    return false;
  }
  std::vector<std::pair<json::const_iterator, json::const_iterator>> open;
  open.emplace_back(root.cbegin(), root.cend());
  while (!open.empty()) {
    if (open.size() > max_depth) {
      return true;
    }
    auto& [next, end] = open.back();
    if (next == end) {
      open.pop_back();
      continue;
    }
    const json& child = *next++;
    if (child.is_structured()) {
      open.emplace_back(child.cbegin(), child.cend());
    }
  }
  return false;
}

// The same count on the text of the first JSON value in a file, before the parser builds
// anything: brackets outside strings, up to where that value ends. Syntax is left to the
// parser, so malformed text only has to be counted, not understood.
bool textNestedDeeperThan(const std::string& text, std::size_t max_depth) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a UTF-8 BOM
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (escaped) {
      escaped = false;
    } else if (in_string) {
      escaped = c == '\\';
      in_string = c != '"';
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) {
        return true;
      }
    } else if (depth == 0) {
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
        return false;  // the first value is no container
      }
    } else if (c == '"') {
      in_string = true;
    } else if ((c == ']' || c == '}') && --depth == 0) {
      return false;
    }
  }
  return false;
}

std::string serialise(const json& j, int indent) {
  if (nestedDeeperThan(j, kJsonMaxDepth)) {
    // The JSON library serialises recursively; deeper documents could exhaust the stack.
    throw std::runtime_error(tooDeep());
  }
  return j.dump(indent, ' ', false, json::error_handler_t::strict);
}

void writeAll(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      throwErrno("cannot write");
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

// An open file descriptor that is closed, and optionally unlinked, unless committed.
class OutputFile {
 public:
  OutputFile(int fd, fs::path path, bool remove_on_failure)
      : fd_(fd), path_(std::move(path)), remove_on_failure_(remove_on_failure) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (remove_on_failure_ && !committed_) {
      ::unlink(path_.c_str());
    }
  }

  int fd() const { return fd_; }
  const fs::path& path() const { return path_; }

  // Close errors can report a failed write-back, so they count as write failures.
  void close() {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
      throwErrno("cannot close");
    }
  }
  void commit() { committed_ = true; }

 private:
  int fd_;
  fs::path path_;
  bool remove_on_failure_;
  bool committed_ = false;
};

// A fresh file next to `target`, so the final rename stays on one filesystem. Mode 0666
// lets the umask decide, as for any newly created file. Empty when it cannot be created.
std::unique_ptr<OutputFile> createTemporaryBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string stem = target.filename().string().substr(0, 64);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = directory / ("." + stem + ".tmp." + std::to_string(::getpid()) +
                                            "." + std::to_string(counter++));
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return std::make_unique<OutputFile>(fd, candidate, true);
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}

void syncDirectoryOf(const fs::path& target) {
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);  // best effort: the rename itself has already succeeded
    ::close(fd);
  }
}

// Writing through a link updates the file it points to, as opening the path would; a link
// whose target does not exist yet creates that target.
fs::path resolveLinks(fs::path path) {
  for (int hop = 0; fs::is_symlink(path); ++hop) {
    if (hop == kMaxLinkHops) {
      throw std::system_error(ELOOP, std::generic_category(), "cannot follow the link");
    }
    const fs::path target = fs::read_symlink(path);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

// Devices, pipes and the like hold no document to protect and cannot be renamed over. The
// open does not wait: a pipe that nobody reads is refused rather than waited on forever.
bool writeInPlace(const fs::path& target, const std::string& text) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  OutputFile file(fd, target, false);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throwErrno("cannot write");
  }
  writeAll(file.fd(), text);
  file.close();
  return true;
}

// The replacement must not hand the file to another owner or change its permissions. Only
// a privileged caller, or one that owns the file, can keep the owner.
bool takeOverOwnerAndMode(int fd, const struct stat& existing) {
  if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
    return false;
  }
  (void)::fchmod(fd, existing.st_mode & 07777);
  return true;
}

// Replaces `target` by a file holding exactly `text`, or leaves it as it was. Returns false
// when the file cannot be opened for writing; throws std::system_error when writing fails.
bool writeAtomically(const fs::path& path, const std::string& text) {
  const fs::path target = resolveLinks(path);
  if (!target.has_filename()) {
    return false;
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    return writeInPlace(target, text);
  }
  // Renaming would replace a file that the caller may not write to.
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    return false;
  }
  const std::unique_ptr<OutputFile> file = createTemporaryBeside(target);
  if (!file) {
    // A writable file in a directory that refuses new entries can still be rewritten.
    const bool directory_refused = errno == EACCES || errno == EPERM;
    return exists && directory_refused && writeInPlace(target, text);
  }
  if (exists && !takeOverOwnerAndMode(file->fd(), existing)) {
    return writeInPlace(target, text);
  }
  writeAll(file->fd(), text);
  if (::fsync(file->fd()) != 0) {
    throwErrno("cannot flush to disk");
  }
  file->close();
  if (::rename(file->path().c_str(), target.c_str()) != 0) {
    throwErrno("cannot replace the file");
  }
  file->commit();
  syncDirectoryOf(target);
  return true;
}

}  // namespace

bool trySaveJson(const nlohmann::json& j, const std::string& file_path, int indent,
                 const rclcpp::Logger& logger) {
  try {
    const std::string text = serialise(j, indent);
    const fs::path path(file_path);
    if (path.has_parent_path()) {
      fs::create_directories(path.parent_path());
    }
    if (!writeAtomically(path, text)) {
      RCLCPP_ERROR(logger, "Failed to open file for writing: %s", file_path.c_str());
      return false;
    }
    RCLCPP_DEBUG(logger, "Saved JSON: %s", file_path.c_str());
    return true;
  } catch (const std::exception& e) {
    RCLCPP_ERROR(logger, "Failed to save JSON %s: %s", file_path.c_str(), e.what());
    return false;
  }
}

void saveJson(const nlohmann::json& j, const std::string& file_path, int indent,
              const rclcpp::Logger& logger) {
  trySaveJson(j, file_path, indent, logger);
}

nlohmann::json readJson(const std::string& file_path, const rclcpp::Logger& logger) {
  std::string text;
  try {
    text = readRegularFile(file_path, std::numeric_limits<std::size_t>::max());
  } catch (const FileReadError& e) {
    if (e.reason() == FileReadError::Reason::kCannotOpen) {
      RCLCPP_ERROR(logger, "Failed to open JSON file: %s", file_path.c_str());
    } else {
      RCLCPP_ERROR(logger, "Failed to read JSON file %s: %s", file_path.c_str(), e.what());
    }
    return json::object();
  }
  try {
    if (textNestedDeeperThan(text, kJsonMaxDepth)) {
      throw std::runtime_error(tooDeep());
    }
    TextBuffer buffer(text);
    std::istream in(&buffer);  // the stream reader stops after the first value
    json j;
    in >> j;
    return j;
  } catch (const std::exception& e) {
    RCLCPP_ERROR(logger, "Failed to read JSON file %s: %s", file_path.c_str(), e.what());
    return json::object();
  }
}

}  // namespace vantorel_base_utils
