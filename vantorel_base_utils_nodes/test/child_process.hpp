// SPDX-License-Identifier: Apache-2.0
// A program run beside a test or benchmark, in a process of its own, ended with the object.
#ifndef VANTOREL_BASE_UTILS_NODES_TEST__CHILD_PROCESS_HPP_
#define VANTOREL_BASE_UTILS_NODES_TEST__CHILD_PROCESS_HPP_

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vantorel_test {

class ChildProcess {
 public:
  // Starts argv[0] with the caller's environment. The child is told to end if the caller dies,
  // so that a crashed test leaves no program behind.
  explicit ChildProcess(const std::vector<std::string>& argv) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      std::vector<char*> args;
      for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
      }
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }

  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Whether the child is still running (false once it has ended, or if it never started).
  bool running() { return pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == 0; }

  // The child's exit status once it ends by itself within `limit`, or -1 (and it is stopped).
  int wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
      if (std::chrono::steady_clock::now() > deadline) {
        stop();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  // SIGINT, as a user's Ctrl-C, then SIGKILL if it has not ended within `grace`.
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000)) {
    if (!running()) {
      pid_ = -1;
      return;
    }
    ::kill(pid_, SIGINT);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS_NODES_TEST__CHILD_PROCESS_HPP_
