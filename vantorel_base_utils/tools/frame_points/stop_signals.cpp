// SPDX-License-Identifier: Apache-2.0
#include "stop_signals.hpp"

#include <signal.h>

#include <atomic>

namespace vantorel_tools {

namespace {

std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void recordStop(int signal) {
  int none = 0;
  g_stop_signal.compare_exchange_strong(none, signal);
}

}  // namespace

void catchStopSignals() {
  struct sigaction action {};
  action.sa_handler = recordStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int signal : {SIGINT, SIGTERM}) {
    // A signal ignored from the start (a background job's SIGINT, nohup) stays ignored.
    struct sigaction inherited {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}

int stopSignal() {
  return g_stop_signal.load();
}

Interrupted::Interrupted(int signal)
    : std::runtime_error("interrupted by " + signalName(signal)), signal_(signal) {}

void throwIfStopped() {
  if (const int signal = stopSignal(); signal != 0) {
    throw Interrupted(signal);
  }
}

int exitStatusFor(int signal) {
  return 128 + signal;
}

std::string signalName(int signal) {
  return signal == SIGINT    ? "SIGINT"
         : signal == SIGTERM ? "SIGTERM"
                             : "signal " + std::to_string(signal);
}

}  // namespace vantorel_tools
