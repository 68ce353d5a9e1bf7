// SPDX-License-Identifier: Apache-2.0
#include "frame_drops.hpp"

namespace vantorel_base_utils_nodes {

std::optional<std::string> FrameDrops::drop(const std::string& reason, Clock::time_point now) {
  ++total_;
  ++since_logged_;
  last_reason_ = reason;
  if (last_logged_ && now - *last_logged_ < period_) {
    return std::nullopt;
  }
  last_logged_ = now;
  std::string line = "dropped a frame: " + reason + " (" + std::to_string(since_logged_) +
                     (since_logged_ == 1 ? " frame" : " frames") + " dropped since the last " +
                     "such warning, " + std::to_string(total_) + " in all)";
  since_logged_ = 0;
  return line;
}

}  // namespace vantorel_base_utils_nodes
