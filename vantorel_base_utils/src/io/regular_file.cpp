// SPDX-License-Identifier: Apache-2.0
// Whole regular files read with bounded size, never blocking on pipes or devices.
#include "vantorel_base_utils/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace vantorel_base_utils {

FileReadError::~FileReadError() = default;

namespace {

using Reason = FileReadError::Reason;

[[noreturn]] void fail(Reason reason, const std::string& text) {
  throw FileReadError(reason, text);
}

// An open regular file and its size when opened, closed at the end of its scope.
class OpenFile {
 public:
  OpenFile(int fd, std::size_t size) : fd_(fd), size_(size) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int fd() const { return fd_; }
  std::size_t size() const { return size_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
  std::size_t size_;
};

std::string tooLarge(std::size_t max_bytes) {
  return "larger than " + std::to_string(max_bytes) + " bytes";
}

// O_NONBLOCK only keeps open() from waiting for a FIFO's writer; regular files ignore it.
OpenFile openChecked(const std::string& path, std::size_t max_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    fail(Reason::kCannotOpen, std::string("cannot open file: ") + std::strerror(errno));
  }
  OpenFile file(fd, 0);
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    fail(Reason::kReadFailed, std::string("read error: ") + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    fail(Reason::kNotRegular, "not a regular file");
  }
  if (static_cast<std::uintmax_t>(status.st_size) > max_bytes) {
    fail(Reason::kTooLarge, tooLarge(max_bytes));
  }
  return OpenFile(file.release(), static_cast<std::size_t>(status.st_size));
}

}  // namespace

void checkRegularFile(const std::string& path, std::size_t max_bytes) {
  openChecked(path, max_bytes);
}

std::string readRegularFile(const std::string& path, std::size_t max_bytes) {
  const OpenFile file = openChecked(path, max_bytes);
  std::string text;
  text.reserve(file.size());
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.fd(), buffer, sizeof(buffer));
    if (n == 0) {
      return text;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail(Reason::kReadFailed, std::string("read error: ") + std::strerror(errno));
    }
    if (static_cast<std::size_t>(n) > max_bytes - text.size()) {
      fail(Reason::kTooLarge, tooLarge(max_bytes));
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace vantorel_base_utils
