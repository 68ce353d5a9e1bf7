// SPDX-License-Identifier: Apache-2.0
// Runs a piece of a test in a forked child, for faults that must not reach the test process
// itself: resource limits, another user id, a private mount namespace.
#ifndef VANTOREL_BASE_UTILS__TEST__SUPPORT__CHILD_PROCESS_HPP_
#define VANTOREL_BASE_UTILS__TEST__SUPPORT__CHILD_PROCESS_HPP_

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace vantorel_test {

// What the child's body returned ("" when all went well), or why the child ended abnormally.
inline std::string runInChild(const std::function<std::string()>& body) {
  int channel[2];
  if (::pipe(channel) != 0) {
    return "pipe failed";
  }
  const pid_t child = ::fork();
  if (child < 0) {
    return "fork failed";
  }
  if (child == 0) {
    ::close(channel[0]);
    const std::string report = body();
    const ssize_t written = ::write(channel[1], report.data(), report.size());
    ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  ::close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(channel[0], buffer, sizeof(buffer))) > 0) {
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(channel[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child) {
    return "waitpid failed";
  }
  if (WIFSIGNALED(status)) {
    return "child killed by signal " + std::to_string(WTERMSIG(status));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "child exited with status " + std::to_string(WEXITSTATUS(status));
  }
  return report;
}

// The ids an unprivileged child switches to, so that file permissions apply to it.
constexpr unsigned kNobodyId = 65534;

inline bool becomeNobody() {
  return ::setgid(kNobodyId) == 0 && ::setuid(kNobodyId) == 0;
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__SUPPORT__CHILD_PROCESS_HPP_
