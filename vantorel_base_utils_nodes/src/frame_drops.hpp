// SPDX-License-Identifier: Apache-2.0
// Frames a node left out: counted one by one, reported at most once a period.
#ifndef VANTOREL_BASE_UTILS_NODES__FRAME_DROPS_HPP_
#define VANTOREL_BASE_UTILS_NODES__FRAME_DROPS_HPP_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vantorel_base_utils_nodes {

class FrameDrops {
 public:
  using Clock = std::chrono::steady_clock;

  explicit FrameDrops(Clock::duration period) : period_(period) {}

  // Counts one dropped frame. Returns the line to log when a period has passed since the last
  // one logged (or none was): the reason of this frame, the frames dropped since that line and
  // the total; otherwise nothing, and the frame is only counted.
  std::optional<std::string> drop(const std::string& reason, Clock::time_point now);

  std::uint64_t total() const { return total_; }
  const std::string& lastReason() const { return last_reason_; }

 private:
  Clock::duration period_;
  std::optional<Clock::time_point> last_logged_;
  std::uint64_t total_ = 0;
  std::uint64_t since_logged_ = 0;
  std::string last_reason_;
};

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__FRAME_DROPS_HPP_
