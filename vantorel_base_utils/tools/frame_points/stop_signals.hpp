// SPDX-License-Identifier: Apache-2.0
// SIGINT and SIGTERM as a request to stop: no new frame is started, a frame in flight is
// finished or rolled back, and the run ends with the shell's status for the signal.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__STOP_SIGNALS_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__STOP_SIGNALS_HPP_

#include <stdexcept>
#include <string>

namespace vantorel_tools {

// From now on the first SIGINT or SIGTERM only records itself; a second one ends the process
// as the signal does by default (the output folder's journal repairs what it cuts short). A
// signal that the process was started ignoring stays ignored.
void catchStopSignals();

// The signal that asked to stop, or 0.
int stopSignal();

// Thrown where work stops for a signal; nothing of the frame is written.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal);
  int signal() const { return signal_; }

 private:
  int signal_;
};

// Throws Interrupted when a stop was asked for.
void throwIfStopped();

// 128 + the signal, as a shell reports a process that the signal ended.
int exitStatusFor(int signal);

// "SIGINT" or "SIGTERM".
std::string signalName(int signal);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__STOP_SIGNALS_HPP_
