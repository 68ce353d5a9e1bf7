// SPDX-License-Identifier: Apache-2.0
// Dropped frames: every one counted, one line a period, and that line counts the quiet ones.
#include <gtest/gtest.h>

#include <string>

#include "frame_drops.hpp"

namespace {

using vantorel_base_utils_nodes::FrameDrops;

TEST(FrameDrops, LogsOnceAPeriodAndCountsTheFramesInBetween) {
  FrameDrops drops(std::chrono::seconds(1));
  const FrameDrops::Clock::time_point start{};
  ASSERT_TRUE(drops.drop("first", start));
  EXPECT_FALSE(drops.drop("second", start + std::chrono::milliseconds(500)));
  const auto line = drops.drop("third", start + std::chrono::milliseconds(1500));
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("third"), std::string::npos) << *line;
  EXPECT_NE(line->find("2 frames dropped since"), std::string::npos) << *line;
  EXPECT_NE(line->find("3 in all"), std::string::npos) << *line;
  EXPECT_EQ(drops.total(), 3U);
  EXPECT_EQ(drops.lastReason(), "third");
}

}  // namespace
