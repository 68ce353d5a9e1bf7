// SPDX-License-Identifier: Apache-2.0
// Construction of a ProjectionContext from every accepted form of its inputs, and the checks
// that keep every projected coordinate finite.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "geometry/projection_checks.hpp"
#include "geometry/projection_kernel.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_base_utils {

namespace projection_checks {

namespace {

// The shortest text that reads back as the same double ("1e-320", "0.5", "inf", "nan").
std::string numberText(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  char text[32];
  const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
  return std::string(text, end);
}

// The largest sample of the image the window lets through, counted as at least 1 (a raw unit
// or a metre) so that the factors the kernel multiplies by it are bounded too.
double largestKeptSample(const ProjectionContext& ctx) {
  if (ctx.depth.type() == CV_32FC1) {
    const auto view = projection_kernel::metricDepthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth,
                                                           ctx.depth_scale);
    return std::max(1.0, static_cast<double>(view.max_depth));
  }
  return std::clamp(ctx.max_depth, 1, 65535);
}

// The farthest any coordinate of T (x, y, z, 1) can be from 0 for a pixel of the image whose
// depth is kept: per output row, |t| + d (|a| |u - cx| + |b| |v - cy| + |c|) at the extremes.
double farthestCoordinate(const ProjectionContext& ctx, const Eigen::Matrix4d& camera_to_target) {
  const double metres_per_sample = ctx.depth.type() == CV_32FC1 ? 1.0 : ctx.depth_scale;
  const auto lift = projection_kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, metres_per_sample,
                                               camera_to_target);
  const double du = std::max(std::fabs(ctx.cx), std::fabs(ctx.depth.cols - 1 - ctx.cx));
  const double dv = std::max(std::fabs(ctx.cy), std::fabs(ctx.depth.rows - 1 - ctx.cy));
  const double d = largestKeptSample(ctx);
  double farthest = 0.0;
  for (std::size_t r = 0; r < 3; ++r) {
    const double lifted =
        std::fabs(lift.a[r]) * du + std::fabs(lift.b[r]) * dv + std::fabs(lift.c[r]);
    const double reach = std::fabs(lift.t[r]) + d * lifted;
    farthest = std::isnan(reach) ? reach : std::max(farthest, reach);
  }
  return farthest;
}

std::optional<std::string> reachProblem(const char* name, const ProjectionContext& ctx,
                                        const Eigen::Matrix4d& camera_to_target) {
  const double farthest = farthestCoordinate(ctx, camera_to_target);
  if (farthest < kFarthestCoordinate) {
    return std::nullopt;
  }
  return std::string(name) + " out of range: points could reach " + numberText(farthest) +
         " m along an axis, " + numberText(kFarthestCoordinate) + " m or more is refused";
}

}  // namespace

std::optional<std::string> intrinsicsProblem(double fx, double fy, double cx, double cy) {
  for (const auto& [name, value] : {std::pair{"fx", fx}, std::pair{"fy", fy}}) {
    if (!std::isnormal(value)) {  // neither zero, denormal, infinite nor NaN
      return "camera_intrinsics invalid: " + std::string(name) + "=" + numberText(value) +
             " is not a finite normal number";
    }
  }
  for (const auto& [name, value] : {std::pair{"cx", cx}, std::pair{"cy", cy}}) {
    if (!std::isfinite(value)) {
      return "camera_intrinsics invalid: " + std::string(name) + "=" + numberText(value) +
             " is not finite";
    }
  }
  return std::nullopt;
}

std::optional<std::string> depthScaleProblem(double depth_scale) {
  if (std::isnormal(depth_scale) && depth_scale > 0.0) {
    return std::nullopt;
  }
  return "depth_scale invalid: " + numberText(depth_scale) +
         " is not a finite positive normal number";
}

std::optional<std::string> transformProblem(const char* name, const Eigen::Matrix4d& transform) {
  for (Eigen::Index r = 0; r < 4; ++r) {
    for (Eigen::Index c = 0; c < 4; ++c) {
      if (!std::isfinite(transform(r, c))) {
        return std::string(name) + " invalid: entry (" + std::to_string(r) + "," +
               std::to_string(c) + ")=" + numberText(transform(r, c)) + " is not finite";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> rangeProblem(const ProjectionContext& ctx) {
  if (auto problem = reachProblem("camera_to_arm_base", ctx, ctx.camera_to_arm_base)) {
    return problem;
  }
  return reachProblem("camera_to_map (arm_base_to_map * camera_to_arm_base)", ctx,
                      ctx.camera_to_map);
}

std::optional<std::string> contextProblem(const ProjectionContext& ctx) {
  const int type = ctx.depth.type();
  const bool has_depth =
      !ctx.depth.empty() && ctx.depth.dims == 2 && (type == CV_16UC1 || type == CV_32FC1);
  if (!has_depth || !(ctx.fx > 0.0) || !(ctx.fy > 0.0)) {
    return "ProjectionContext is invalid";
  }
  for (auto problem :
       {intrinsicsProblem(ctx.fx, ctx.fy, ctx.cx, ctx.cy), depthScaleProblem(ctx.depth_scale),
        transformProblem("camera_to_arm_base", ctx.camera_to_arm_base),
        transformProblem("camera_to_map", ctx.camera_to_map)}) {
    if (problem) {
      return problem;
    }
  }
  return rangeProblem(ctx);
}

}  // namespace projection_checks

namespace {

[[noreturn]] void fail(const std::string& message) {
  throw std::runtime_error(message);
}

void failOn(const std::optional<std::string>& problem) {
  if (problem) {
    fail(*problem);
  }
}

// The overloads without DepthOptions take 16-bit images only, as they always have.
enum class DepthTypes { SixteenBit, SixteenBitOrFloat };

void checkDepthImage(const cv::Mat& depth_image, const CameraModel& model, DepthTypes types) {
  if (depth_image.empty()) {
    fail("Depth image is empty");
  }
  if (types == DepthTypes::SixteenBit && depth_image.type() != CV_16UC1) {
    fail("Depth image must be CV_16UC1, actual type=" + std::to_string(depth_image.type()));
  }
  if (depth_image.type() != CV_16UC1 && depth_image.type() != CV_32FC1) {
    fail("Depth image must be CV_16UC1 or CV_32FC1, actual type=" +
         std::to_string(depth_image.type()));
  }
  // A size of 0 means the message did not say, so nothing is checked.
  if (model.width != 0 && static_cast<std::int64_t>(model.width) != depth_image.cols) {
    fail("Depth image width does not match CameraInfo: depth_cols=" +
         std::to_string(depth_image.cols) + " camera_info_width=" + std::to_string(model.width));
  }
  if (model.height != 0 && static_cast<std::int64_t>(model.height) != depth_image.rows) {
    fail("Depth image height does not match CameraInfo: depth_rows=" +
         std::to_string(depth_image.rows) + " camera_info_height=" + std::to_string(model.height));
  }
}

// The one construction all overloads reduce to. The documented checks come first, in their
// order; the checks against non-finite points only refuse what those let through.
ProjectionContext buildProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                                         const Eigen::Matrix4d& camera_to_arm_base,
                                         const Eigen::Matrix4d& arm_base_to_map,
                                         const DepthOptions& options, DepthTypes types) {
  namespace checks = projection_checks;
  ProjectionContext ctx;
  ctx.fx = model.fx;
  ctx.fy = model.fy;
  ctx.cx = model.cx;
  ctx.cy = model.cy;
  ctx.min_depth = options.min_depth;
  ctx.max_depth = options.max_depth;
  ctx.depth_scale = options.depth_scale;
  if (!(model.fx > 0.0 && model.fy > 0.0)) {
    fail("camera_intrinsics invalid");
  }
  checkDepthImage(depth_image, model, types);
  failOn(checks::intrinsicsProblem(ctx.fx, ctx.fy, ctx.cx, ctx.cy));
  failOn(checks::depthScaleProblem(ctx.depth_scale));
  failOn(checks::transformProblem("camera_to_arm_base", camera_to_arm_base));
  failOn(checks::transformProblem("arm_base_to_map", arm_base_to_map));
  ctx.camera_to_arm_base = camera_to_arm_base;
  ctx.camera_to_map = arm_base_to_map * camera_to_arm_base;
  ctx.depth = depth_image;  // only its size and type, for the range check
  failOn(checks::rangeProblem(ctx));
  // The caller may reuse its image for the next frame; the context must not see that.
  ctx.depth = depth_image.clone();
  return ctx;
}

// IMREAD_UNCHANGED keeps a 16-bit PNG at 16 bits and one channel. A header that OpenCV
// refuses with an exception (one claiming more pixels than it decodes, for instance) makes the
// file as unreadable as a truncated one, so both get the one documented error.
cv::Mat readImageFile(const std::string& path) {
  try {
    return cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

cv::Mat loadDepthImage(const std::string& depth_image_path) {
  return readDepthImage(depth_image_path);
}

const cv::Mat& loadDepthImage(const cv::Mat& depth_image) {
  return depth_image;
}

CameraModel modelOf(const sensor_msgs::msg::CameraInfo& camera_info) {
  return cameraModelFromCameraInfo(camera_info);
}

const CameraModel& modelOf(const CameraModel& model) {
  return model;
}

// Every overload is this chain: camera model, then both transforms (arm_base_to_map first,
// so its JSON errors win), then the image file, then the core checks.
template <typename DepthSource, typename Camera, typename Transform>
ProjectionContext createVia(const DepthSource& depth_source, const Camera& camera,
                            const Transform& camera_to_arm_base, const Transform& arm_base_to_map,
                            const DepthOptions& options, DepthTypes types) {
  const auto& model = modelOf(camera);
  const Eigen::Matrix4d arm_base_to_map_matrix = toEigenTransform(arm_base_to_map);
  const Eigen::Matrix4d camera_to_arm_base_matrix = toEigenTransform(camera_to_arm_base);
  const auto& depth_image = loadDepthImage(depth_source);
  return buildProjectionContext(depth_image, model, camera_to_arm_base_matrix,
                                arm_base_to_map_matrix, options, types);
}

// The overloads with a window: millimetre 16-bit images.
template <typename DepthSource, typename Camera, typename Transform>
ProjectionContext createVia(const DepthSource& depth_source, const Camera& camera,
                            const Transform& camera_to_arm_base, const Transform& arm_base_to_map,
                            int min_depth, int max_depth) {
  DepthOptions options;
  options.min_depth = min_depth;
  options.max_depth = max_depth;
  return createVia(depth_source, camera, camera_to_arm_base, arm_base_to_map, options,
                   DepthTypes::SixteenBit);
}

}  // namespace

// The sixteen overloads, each forwarding to the one chain above. The logger parameter is
// part of every signature and deliberately unused: construction reports failures by
// exception only.
ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          int min_depth, int max_depth,
                                          const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(
    const std::string& depth, const CameraModel& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          int min_depth, int max_depth,
                                          const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(
    const std::string& depth, const sensor_msgs::msg::CameraInfo& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          int min_depth, int max_depth,
                                          const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(
    const cv::Mat& depth, const CameraModel& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          int min_depth, int max_depth,
                                          const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(
    const cv::Mat& depth, const sensor_msgs::msg::CameraInfo& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map, int min_depth,
                                          int max_depth, const rclcpp::Logger& /*logger*/) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, min_depth, max_depth);
}

// The sixteen forms with DepthOptions: any depth unit, and float metres.
ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(
    const std::string& depth, const CameraModel& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map,
    const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const std::string& depth, const CameraModel& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(
    const std::string& depth, const sensor_msgs::msg::CameraInfo& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map,
    const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const std::string& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(
    const cv::Mat& depth, const CameraModel& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map,
    const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth, const CameraModel& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const nlohmann::json& camera_to_arm_base,
                                          const nlohmann::json& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const geometry_msgs::msg::Transform& camera_to_arm_base,
                                          const geometry_msgs::msg::Transform& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(
    const cv::Mat& depth, const sensor_msgs::msg::CameraInfo& camera,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map,
    const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

ProjectionContext createProjectionContext(const cv::Mat& depth,
                                          const sensor_msgs::msg::CameraInfo& camera,
                                          const Eigen::Matrix4d& camera_to_arm_base,
                                          const Eigen::Matrix4d& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return createVia(depth, camera, camera_to_arm_base, arm_base_to_map, depth_options,
                   DepthTypes::SixteenBitOrFloat);
}

cv::Mat readDepthImage(const std::string& depth_image_path) {
  cv::Mat image = readImageFile(depth_image_path);
  if (image.empty()) {
    fail("Failed to read depth image: " + depth_image_path);
  }
  return image;
}

}  // namespace vantorel_base_utils
