#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "vantorel_base_utils/vantorel_base_utils.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vbu::OffsetDirection;

namespace {

void expectNear(const json& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << actual;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(actual[i].get<double>(), expected[i], 1e-12) << actual;
  }
}

}  // namespace

TEST(OrientationOffset, MovesAlongTheForceVector) {
  json pose = json::parse(R"({"end_pose":[1,2,3],"force_vector":[0,0,-10]})");
  vbu::applyOrientationOffset(pose, 0.05, OffsetDirection::ForceVector);
  EXPECT_EQ(pose["end_pose"], json::parse("[1.0, 2.0, 2.95]"));
  EXPECT_TRUE(pose["end_pose"][0].is_number_float());

  // Any value other than ToolZ means the force vector.
  json other = json::parse(R"({"end_pose":[0,0,0],"force_vector":[3,4,0]})");
  vbu::applyOrientationOffset(other, -5.0, static_cast<OffsetDirection>(7));
  expectNear(other["end_pose"], {-3.0, -4.0, 0.0});

  // A huge but finite force keeps its direction.
  json huge = json::parse(R"({"end_pose":[0,0,0],"force_vector":[3e200,4e200,0]})");
  vbu::applyOrientationOffset(huge, 1.0, OffsetDirection::ForceVector);
  expectNear(huge["end_pose"], {0.6, 0.8, 0.0});
}

TEST(OrientationOffset, MovesAlongTheToolAxis) {
  json identity = json::parse(R"({"end_pose":[0,0,0,9],"pose":[5,5,5,1,0,0,0]})");
  vbu::applyOrientationOffset(identity, 0.1, OffsetDirection::ToolZ);
  EXPECT_EQ(identity["end_pose"], json::parse("[0.0, 0.0, 0.1, 9]"));

  json half_turn_x = json::parse(R"({"end_pose":[0,0,1],"pose":[0,0,0,0,1,0,0]})");
  vbu::applyOrientationOffset(half_turn_x, 0.25, OffsetDirection::ToolZ);
  expectNear(half_turn_x["end_pose"], {0.0, 0.0, 0.75});

  json unnormalised = json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,2,0,0,0]})");
  vbu::applyOrientationOffset(unnormalised, 0.1, OffsetDirection::ToolZ);
  expectNear(unnormalised["end_pose"], {0.0, 0.0, 0.1});

  // Quarter turn about y: the tool axis points along +x.
  const double h = std::sqrt(0.5);
  json quarter_y = {{"end_pose", {1, 1, 1}}, {"pose", {0, 0, 0, h, 0, h, 0}}};
  vbu::applyOrientationOffset(quarter_y, 2.0, OffsetDirection::ToolZ);
  expectNear(quarter_y["end_pose"], {3.0, 1.0, 1.0});
}

TEST(OrientationOffset, UnusableDocumentsAreLeftUnchanged) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<json, OffsetDirection>> cases = {
      {json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,1,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,0,0,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,1,0,"0",0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"force_vector":[0,0,0]})"), OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":[0,0,0],"force_vector":[1e-10,0,0]})"),
       OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":[0,0],"force_vector":[1,0,0]})"), OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":[0,"1",0],"pose":[0,0,0,1,0,0,0]})"), OffsetDirection::ToolZ},
      {json::parse(R"({"end_pose":[0,0,0],"force_vector":[1,0,null]})"),
       OffsetDirection::ForceVector},
      {json::parse(R"({"end_pose":{"x":0},"force_vector":[1,0,0]})"), OffsetDirection::ForceVector},
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

TEST(OrientationOffsetRaycast, StopsAtTheFootOfTheNearestPointAhead) {
  const json original = json::parse(R"({"end_pose":[0,0,0.5],"force_vector":[1,0,0]})");
  const std::vector<std::array<double, 3>> points = {
      {2, 0.05, 0}, {1, 0.5, 0}, {3, 0, 0}, {-1, 0, 0}};
  json pose = original;
  vbu::applyOrientationOffsetXYRaycast(pose, points, 0.1, 0.3, OffsetDirection::ForceVector);
  EXPECT_EQ(pose["end_pose"], json::parse("[2.0, 0.0, 0.5]"));

  // On the radius counts as a hit; a negative radius acts as its absolute value.
  pose = original;
  vbu::applyOrientationOffsetXYRaycast(pose, {{1, 0.5, 9}}, -0.5, 0.3,
                                       OffsetDirection::ForceVector);
  EXPECT_EQ(pose["end_pose"], json::parse("[1.0, 0.0, 0.5]"));

  pose = original;
  vbu::applyOrientationOffsetXYRaycast(pose, {{1, 0.5, 0}, {0, 0, 0}}, 0.1, 0.3,
                                       OffsetDirection::ForceVector);
  EXPECT_EQ(pose["end_pose"], json::parse("[0.3, 0.0, 0.5]"));

  // Diagonal ray from (1, 1): the point (3, 2) lies 3/sqrt(2) along it, 1/sqrt(2) aside.
  json diagonal = json::parse(R"({"end_pose":[1,1,0],"force_vector":[2,2,-7]})");
  vbu::applyOrientationOffsetXYRaycast(diagonal, {{3, 2, 0}}, 0.8, 0.0,
                                       OffsetDirection::ForceVector);
  expectNear(diagonal["end_pose"], {2.5, 2.5, 0.0});
}

TEST(OrientationOffsetRaycast, FallsBackWithoutAHorizontalRay) {
  json vertical = json::parse(R"({"end_pose":[0,0,0],"force_vector":[0,0,5]})");
  vbu::applyOrientationOffsetXYRaycast(vertical, {{1, 0, 0}}, 1.0, 0.2,
                                       OffsetDirection::ForceVector);
  EXPECT_EQ(vertical["end_pose"], json::parse("[0.0, 0.0, 0.2]"));

  json tool_only = json::parse(R"({"end_pose":[0,0,0],"pose":[0,0,0,1,0,0,0]})");
  vbu::applyOrientationOffsetXYRaycast(tool_only, {{1, 0, 0}}, 1.0, 0.2, OffsetDirection::ToolZ);
  EXPECT_EQ(tool_only["end_pose"], json::parse("[0.0, 0.0, 0.2]"));

  // A force whose third element is not a number still gives a ray.
  json flat = json::parse(R"({"end_pose":[0,0,0],"force_vector":[0,-2,"z"]})");
  vbu::applyOrientationOffsetXYRaycast(flat, {}, 1.0, 0.2, OffsetDirection::ForceVector);
  EXPECT_EQ(flat["end_pose"], json::parse("[0.0, -0.2, 0]"));

  json not_object = json::array({1, 2, 3});
  vbu::applyOrientationOffsetXYRaycast(not_object, {}, 1.0, 0.2, OffsetDirection::ToolZ);
  EXPECT_EQ(not_object, json::array({1, 2, 3}));
}
