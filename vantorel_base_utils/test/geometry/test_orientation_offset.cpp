// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "vantorel_base_utils/orientation_offset.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vbu::OffsetDirection;

namespace {

json offsetBy(const char* document, double offset, OffsetDirection direction) {
  json pose = json::parse(document);
  vbu::applyOrientationOffset(pose, offset, direction);
  return pose["end_pose"];
}

json raycast(const char* document, const std::vector<std::array<double, 3>>& points, double radius,
             double fallback, OffsetDirection direction) {
  json pose = json::parse(document);
  vbu::applyOrientationOffsetXYRaycast(pose, points, radius, fallback, direction);
  return pose["end_pose"];
}

}  // namespace

TEST(OrientationOffset, MovesAlongTheForceVectorOrTheToolAxis) {
  const auto force = OffsetDirection::ForceVector;
  const auto tool = OffsetDirection::ToolZ;
  EXPECT_EQ(offsetBy(R"({"end_pose":[1,2,3],"force_vector":[0,0,-10]})", 0.05, force),
            json::parse("[1.0, 2.0, 2.95]"));
  EXPECT_EQ(offsetBy(R"({"end_pose":[0,0,0],"force_vector":[3,4,0]})", -5, OffsetDirection{7}),
            json::parse("[-3.0, -4.0, 0.0]"));  // any value but ToolZ means the force
  // A huge but finite force keeps its direction instead of overflowing to a zero vector.
  const json huge = offsetBy(R"({"end_pose":[0,0,0],"force_vector":[3e200,4e200,0]})", 1, force);
  EXPECT_NEAR(huge[0].get<double>(), 0.6, 1e-15);
  EXPECT_NEAR(huge[1].get<double>(), 0.8, 1e-15);

  EXPECT_EQ(offsetBy(R"({"end_pose":[0,0,0,9],"pose":[5,5,5,1,0,0,0]})", 0.1, tool),
            json::parse("[0.0, 0.0, 0.1, 9]"));
  EXPECT_EQ(offsetBy(R"({"end_pose":[0,0,1],"pose":[0,0,0,0,1,0,0]})", 0.25, tool),
            json::parse("[0.0, 0.0, 0.75]"));  // half turn about x
  EXPECT_EQ(offsetBy(R"({"end_pose":[0,0,0],"pose":[0,0,0,2,0,0,0]})", 0.1, tool),
            json::parse("[0.0, 0.0, 0.1]"));  // unnormalised identity
  const json quarter_y = offsetBy(
      R"({"end_pose":[1,1,1],"pose":[0,0,0,0.7071067811865476,0,0.7071067811865476,0]})", 2, tool);
  EXPECT_NEAR(quarter_y[0].get<double>(), 3.0, 1e-12);
  EXPECT_NEAR(quarter_y[2].get<double>(), 1.0, 1e-12);
}

TEST(OrientationOffset, UnusableDocumentsAreLeftUnchanged) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<json, OffsetDirection>> cases = {
      {json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,1,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,0,0,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,"1",0],"pose":[0,0,0,1,0,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"force_vector":[1e-10,0,0]})"),
       OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":[0,0],"force_vector":[1,0,0]})"), OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":[0,0,0],"force_vector":[1,0,null]})"),
       OffsetDirection::ForceVector},
      {json{{"end_pose", {0, 0, 0}}, {"force_vector", {nan, 0, 0}}}, OffsetDirection::ForceVector},
      {json{{"end_pose", {0, 0, 0}}, {"force_vector", {inf, 1, 0}}}, OffsetDirection::ForceVector},
      {json::parse("[1,2,3]"), OffsetDirection::ForceVector},
  };
  for (const auto& [original, direction] : cases) {
    json pose = original;
    vbu::applyOrientationOffset(pose, 0.5, direction);
    EXPECT_EQ(pose.dump(), original.dump());
  }
}

TEST(OrientationOffsetRaycast, StopsAtTheFootOfTheNearestPointAheadOrFallsBack) {
  const auto force = OffsetDirection::ForceVector;
  const char* along_x = R"({"end_pose":[0,0,0.5],"force_vector":[1,0,0]})";
  EXPECT_EQ(raycast(along_x, {{2, 0.05, 0}, {1, 0.5, 0}, {3, 0, 0}, {-1, 0, 0}}, 0.1, 0.3, force),
            json::parse("[2.0, 0.0, 0.5]"));
  // On the radius is a hit, and a negative radius acts as its absolute value.
  EXPECT_EQ(raycast(along_x, {{1, 0.5, 9}}, -0.5, 0.3, force), json::parse("[1.0, 0.0, 0.5]"));
  EXPECT_EQ(raycast(along_x, {{1, 0.5, 0}, {0, 0, 0}}, 0.1, 0.3, force),
            json::parse("[0.3, 0.0, 0.5]"));
  // Diagonal ray from (1, 1): the point (3, 2) lies 3/sqrt(2) along it, 1/sqrt(2) aside.
  const json diagonal =
      raycast(R"({"end_pose":[1,1,0],"force_vector":[2,2,-7]})", {{3, 2, 0}}, 0.8, 0, force);
  EXPECT_NEAR(diagonal[0].get<double>(), 2.5, 1e-12);
  EXPECT_NEAR(diagonal[1].get<double>(), 2.5, 1e-12);
  // The third force element need not be a number.
  EXPECT_EQ(raycast(R"({"end_pose":[0,0,0],"force_vector":[0,-2,"z"]})", {}, 1, 0.2, force),
            json::parse("[0.0, -0.2, 0]"));

  // No horizontal ray: the plain offset by the fallback distance.
  EXPECT_EQ(raycast(R"({"end_pose":[0,0,0],"force_vector":[0,0,5]})", {{1, 0, 0}}, 1, 0.2, force),
            json::parse("[0.0, 0.0, 0.2]"));
  EXPECT_EQ(raycast(R"({"end_pose":[0,0,0],"pose":[0,0,0,1,0,0,0]})", {{1, 0, 0}}, 1, 0.2,
                    OffsetDirection::ToolZ),
            json::parse("[0.0, 0.0, 0.2]"));
}
