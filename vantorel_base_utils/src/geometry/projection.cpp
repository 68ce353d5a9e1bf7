// SPDX-License-Identifier: Apache-2.0
// Projection of pixel lists, pixel pairs and image points JSON through a ProjectionContext.
#include "vantorel_base_utils/projection.hpp"

#include <stdexcept>

#include "geometry/projection_checks.hpp"
#include "geometry/projection_kernel.hpp"
#include "io/number_to_int.hpp"

namespace vantorel_base_utils {

namespace {

// Besides the documented conditions, a hand-built context is refused when it holds anything
// its construction would have refused: an image other than a 2-D 16-bit or float one (read
// as 16-bit depth it would run past its rows), or inputs that could give non-finite points.
void checkContext(const ProjectionContext& ctx) {
  if (projection_checks::contextProblem(ctx)) {
    throw std::runtime_error("ProjectionContext is invalid");
  }
}

std::vector<ProjectedPoint> projectChecked(const ProjectionContext& ctx,
                                           const std::vector<std::array<int, 2>>& pixels,
                                           const Eigen::Matrix4d& camera_to_target) {
  namespace kernel = projection_kernel;
  if (ctx.depth.type() == CV_32FC1) {
    const auto view =
        kernel::metricDepthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth, ctx.depth_scale);
    const auto lift = kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, 1.0, camera_to_target);
    return kernel::projectPixels(view, lift, pixels, kernel::projectorFor(view));
  }
  const auto view = kernel::depthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth);
  const auto lift =
      kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, ctx.depth_scale, camera_to_target);
  return kernel::projectPixels(view, lift, pixels, kernel::projectorFor(view));
}

std::vector<ProjectedPoint> projectPoints(const ProjectionContext& ctx,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          const Eigen::Matrix4d& camera_to_target) {
  checkContext(ctx);
  return projectChecked(ctx, pixels, camera_to_target);
}

std::vector<std::vector<ProjectedPoint>> projectPointSets(
    const ProjectionContext& ctx, const std::vector<std::vector<std::array<int, 2>>>& pixel_sets,
    const Eigen::Matrix4d& camera_to_target) {
  checkContext(ctx);
  std::vector<std::vector<ProjectedPoint>> result;
  result.reserve(pixel_sets.size());
  for (const auto& pixels : pixel_sets) {
    result.push_back(projectChecked(ctx, pixels, camera_to_target));
  }
  return result;
}

std::vector<std::array<int, 2>> pixelsOfPairs(const std::vector<std::pair<int, int>>& pairs) {
  std::vector<std::array<int, 2>> pixels;
  pixels.reserve(pairs.size());
  for (const auto& pair : pairs) {
    pixels.push_back({pair.first, pair.second});
  }
  return pixels;
}

nlohmann::json toPointsJson(const std::vector<ProjectedPoint>& points) {
  nlohmann::json::array_t result;
  result.reserve(points.size());
  for (const ProjectedPoint& p : points) {
    result.emplace_back(nlohmann::json::array_t{static_cast<double>(p.x), static_cast<double>(p.y),
                                                static_cast<double>(p.z)});
  }
  return result;
}

nlohmann::json projectJson(const ProjectionContext& ctx, const nlohmann::json& points,
                           Eigen::Matrix4d ProjectionContext::*camera_to_target) {
  const auto pixels = parseImagePointsJson(points);
  return toPointsJson(projectPoints(ctx, pixels, ctx.*camera_to_target));
}

[[noreturn]] void invalidEntry() {
  throw std::runtime_error("invalid point entry in points json");
}

// Coordinates beyond int are refused rather than wrapped into some pixel of the image.
int coordinateOf(const nlohmann::json& value) {
  const auto coordinate = intOfJsonInteger(value);
  if (!coordinate) {
    invalidEntry();
  }
  return *coordinate;
}

bool hasIntegerPair(const nlohmann::json& entry, const char* first, const char* second) {
  const auto a = entry.find(first);
  const auto b = entry.find(second);
  return a != entry.end() && b != entry.end() && a->is_number_integer() && b->is_number_integer();
}

std::array<int, 2> pixelOfObject(const nlohmann::json& entry) {
  for (const auto& keys : {std::array<const char*, 2>{"x", "y"}, {"u", "v"}}) {
    if (hasIntegerPair(entry, keys[0], keys[1])) {
      return {coordinateOf(entry[keys[0]]), coordinateOf(entry[keys[1]])};
    }
  }
  invalidEntry();
}

std::array<int, 2> pixelOfEntry(const nlohmann::json& entry) {
  if (entry.is_array()) {
    if (entry.size() < 2 || !entry[0].is_number_integer() || !entry[1].is_number_integer()) {
      invalidEntry();
    }
    return {coordinateOf(entry[0]), coordinateOf(entry[1])};
  }
  if (entry.is_object()) {
    return pixelOfObject(entry);
  }
  invalidEntry();
}

}  // namespace

std::vector<ProjectedPoint> projectImagePointsToMap(const ProjectionContext& ctx,
                                                    const std::vector<std::array<int, 2>>& pixels) {
  return projectPoints(ctx, pixels, ctx.camera_to_map);
}

std::vector<ProjectedPoint> projectImagePointsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::array<int, 2>>& pixels) {
  return projectPoints(ctx, pixels, ctx.camera_to_arm_base);
}

std::vector<std::vector<ProjectedPoint>> projectImagePointSetsToMap(
    const ProjectionContext& ctx, const std::vector<std::vector<std::array<int, 2>>>& pixel_sets) {
  return projectPointSets(ctx, pixel_sets, ctx.camera_to_map);
}

std::vector<std::vector<ProjectedPoint>> projectImagePointSetsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::vector<std::array<int, 2>>>& pixel_sets) {
  return projectPointSets(ctx, pixel_sets, ctx.camera_to_arm_base);
}

std::vector<ProjectedPoint> projectPixelPairsToMap(const ProjectionContext& ctx,
                                                   const std::vector<std::pair<int, int>>& pixels) {
  return projectImagePointsToMap(ctx, pixelsOfPairs(pixels));
}

std::vector<ProjectedPoint> projectPixelPairsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::pair<int, int>>& pixels) {
  return projectImagePointsToArmBase(ctx, pixelsOfPairs(pixels));
}

nlohmann::json projectImagePointsJsonToMap(const ProjectionContext& ctx,
                                           const nlohmann::json& points) {
  return projectJson(ctx, points, &ProjectionContext::camera_to_map);
}

nlohmann::json projectImagePointsJsonToArmBase(const ProjectionContext& ctx,
                                               const nlohmann::json& points) {
  return projectJson(ctx, points, &ProjectionContext::camera_to_arm_base);
}

std::vector<std::array<int, 2>> parseImagePointsJson(const nlohmann::json& points) {
  if (!points.is_array()) {
    throw std::runtime_error("points must be a json array");
  }
  std::vector<std::array<int, 2>> pixels;
  pixels.reserve(points.size());
  for (const auto& entry : points) {
    pixels.push_back(pixelOfEntry(entry));
  }
  return pixels;
}

}  // namespace vantorel_base_utils
