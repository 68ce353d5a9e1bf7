// SPDX-License-Identifier: Apache-2.0
// Construction of a ProjectionContext: the sixteen forms and the options entry over one core,
// and the checks that keep every projected coordinate finite.
#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include "geometry/context_over_image.hpp"
#include "geometry/projection_checks.hpp"
#include "geometry/projection_kernel.hpp"
#include "io/depth_file_header.hpp"
#include "io/number_text.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/regular_file.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_base_utils {

namespace projection_checks {

namespace {

using Reason = InputError::Reason;

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

std::optional<InputError> reachProblem(const char* name, const ProjectionContext& ctx,
                                       const Eigen::Matrix4d& camera_to_target) {
  const double farthest = farthestCoordinate(ctx, camera_to_target);
  if (farthest < kFarthestCoordinate) {
    return std::nullopt;
  }
  return InputError(Reason::kNotFinite, name,
                    std::string(name) + " out of range: points could reach " +
                        numberText(farthest) + " m along an axis, " +
                        numberText(kFarthestCoordinate) + " m or more is refused");
}

}  // namespace

std::optional<InputError> intrinsicsProblem(double fx, double fy, double cx, double cy) {
  const auto invalid = [](const char* name, double value, const char* what) {
    return InputError(
        Reason::kNotFinite, "camera_intrinsics",
        "camera_intrinsics invalid: " + std::string(name) + "=" + numberText(value) + what);
  };
  for (const auto& [name, value] : {std::pair{"fx", fx}, std::pair{"fy", fy}}) {
    if (!std::isnormal(value)) {  // neither zero, denormal, infinite nor NaN
      return invalid(name, value, " is not a finite normal number");
    }
  }
  for (const auto& [name, value] : {std::pair{"cx", cx}, std::pair{"cy", cy}}) {
    if (!std::isfinite(value)) {
      return invalid(name, value, " is not finite");
    }
  }
  return std::nullopt;
}

std::optional<InputError> depthScaleProblem(double depth_scale) {
  if (std::isnormal(depth_scale) && depth_scale > 0.0) {
    return std::nullopt;
  }
  return InputError(Reason::kOutOfRange, "depth_scale",
                    "depth_scale invalid: " + numberText(depth_scale) +
                        " is not a finite positive normal number");
}

std::optional<InputError> transformProblem(const char* name, const Eigen::Matrix4d& transform) {
  for (Eigen::Index r = 0; r < 4; ++r) {
    for (Eigen::Index c = 0; c < 4; ++c) {
      if (!std::isfinite(transform(r, c))) {
        return InputError(Reason::kNotFinite, name,
                          std::string(name) + " invalid: entry (" + std::to_string(r) + "," +
                              std::to_string(c) + ")=" + numberText(transform(r, c)) +
                              " is not finite");
      }
    }
  }
  return std::nullopt;
}

std::optional<InputError> rangeProblem(const ProjectionContext& ctx) {
  if (auto problem = reachProblem("camera_to_arm_base", ctx, ctx.camera_to_arm_base)) {
    return problem;
  }
  return reachProblem("camera_to_map (arm_base_to_map * camera_to_arm_base)", ctx,
                      ctx.camera_to_map);
}

std::optional<InputError> contextProblem(const ProjectionContext& ctx) {
  const int type = ctx.depth.type();
  const bool has_depth =
      !ctx.depth.empty() && ctx.depth.dims == 2 && (type == CV_16UC1 || type == CV_32FC1);
  if (!has_depth || !(ctx.fx > 0.0) || !(ctx.fy > 0.0)) {
    return InputError(Reason::kMalformed, "ProjectionContext", "ProjectionContext is invalid");
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

using Reason = InputError::Reason;

// Who asked, which decides how failures are reported: the sixteen forms throw the
// std::runtime_error texts they document, the options entry throws InputError with the same
// texts and a reason a caller can switch on. The entry also takes float depth.
enum class Caller { kSixteenForms, kOptionsEntry };

// Whether a context owns a copy of the caller's pixels or reads them where they are.
enum class Pixels { kCopied, kShared };

[[noreturn]] void fail(Caller caller, Reason reason, const char* input,
                       const std::string& message) {
  if (caller == Caller::kOptionsEntry) {
    throw InputError(reason, input, message);
  }
  throw std::runtime_error(message);
}

void failOn(const std::optional<InputError>& problem) {
  if (problem) {
    throw *problem;
  }
}

void checkFocalLengths(const CameraModel& model, Caller caller) {
  if (!(model.fx > 0.0 && model.fy > 0.0)) {
    fail(caller, Reason::kOutOfRange, "camera_intrinsics", "camera_intrinsics invalid");
  }
}

// A size of 0 means the camera did not say, so nothing is checked.
void checkDepthSize(std::uint64_t cols, std::uint64_t rows, const CameraModel& model,
                    Caller caller) {
  if (model.width != 0 && model.width != cols) {
    fail(caller, Reason::kSizeMismatch, "depth_image",
         "Depth image width does not match CameraInfo: depth_cols=" + std::to_string(cols) +
             " camera_info_width=" + std::to_string(model.width));
  }
  if (model.height != 0 && model.height != rows) {
    fail(caller, Reason::kSizeMismatch, "depth_image",
         "Depth image height does not match CameraInfo: depth_rows=" + std::to_string(rows) +
             " camera_info_height=" + std::to_string(model.height));
  }
}

void checkDepthImage(const cv::Mat& depth_image, const CameraModel& model, Caller caller) {
  if (depth_image.empty()) {
    fail(caller, Reason::kMalformed, "depth_image", "Depth image is empty");
  }
  const int type = depth_image.type();
  if (caller == Caller::kSixteenForms && type != CV_16UC1) {
    fail(caller, Reason::kUnsupported, "depth_image",
         "Depth image must be CV_16UC1, actual type=" + std::to_string(type));
  }
  if (type != CV_16UC1 && type != CV_32FC1) {
    fail(caller, Reason::kUnsupported, "depth_image",
         "Depth image must be CV_16UC1 or CV_32FC1, actual type=" + std::to_string(type));
  }
  checkDepthSize(static_cast<std::uint64_t>(depth_image.cols),
                 static_cast<std::uint64_t>(depth_image.rows), model, caller);
}

// The one construction every form reduces to. The documented checks come first, in their
// order; the checks against non-finite points only refuse what those let through.
ProjectionContext buildProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                                         const Eigen::Matrix4d& camera_to_arm_base,
                                         const Eigen::Matrix4d& arm_base_to_map,
                                         const DepthOptions& options, Caller caller,
                                         Pixels pixels = Pixels::kCopied) {
  namespace checks = projection_checks;
  checkFocalLengths(model, caller);
  checkDepthImage(depth_image, model, caller);
  ProjectionContext ctx;
  ctx.fx = model.fx;
  ctx.fy = model.fy;
  ctx.cx = model.cx;
  ctx.cy = model.cy;
  ctx.min_depth = options.min_depth;
  ctx.max_depth = options.max_depth;
  ctx.depth_scale = options.depth_scale;
  failOn(checks::intrinsicsProblem(ctx.fx, ctx.fy, ctx.cx, ctx.cy));
  failOn(checks::depthScaleProblem(ctx.depth_scale));
  failOn(checks::transformProblem("camera_to_arm_base", camera_to_arm_base));
  failOn(checks::transformProblem("arm_base_to_map", arm_base_to_map));
  ctx.camera_to_arm_base = camera_to_arm_base;
  ctx.camera_to_map = arm_base_to_map * camera_to_arm_base;
  ctx.depth = depth_image;  // only its size and type, for the range check
  failOn(checks::rangeProblem(ctx));
  // The caller may reuse its image for the next frame; a context it keeps must not see that.
  if (pixels == Pixels::kCopied) {
    ctx.depth = depth_image.clone();
  }
  return ctx;
}

[[noreturn]] void failToRead(const std::string& path) {
  throw std::runtime_error("Failed to read depth image: " + path);
}

// The image of a depth file for the sixteen forms: any file readDepthImage reads, and also
// files of other pixel types, so that the core reports their type. The header comes first:
// an image larger than a camera that states its size is not decoded, and gets the core's own
// size message after the intrinsics check that precedes it there.
cv::Mat readDepthFileFor(const std::string& path, const CameraModel& model) {
  std::string bytes;
  try {
    bytes = readRegularFile(path, kMaxDepthFileBytes);
  } catch (const FileReadError&) {
    failToRead(path);
  }
  const std::optional<depth_file::DepthHeader> header = depth_file::depthHeaderOf(bytes);
  if (!header || !header->broken.empty()) {
    failToRead(path);
  }
  const bool wider = model.width != 0 && header->width > model.width;
  const bool taller = model.height != 0 && header->height > model.height;
  if (wider || taller) {
    checkFocalLengths(model, Caller::kSixteenForms);
    checkDepthSize(header->width, header->height, model, Caller::kSixteenForms);
  }
  const bool size_stated = model.width != 0 && model.height != 0;
  if (!size_stated && header->width * header->height > kMaxDepthImagePixels) {
    failToRead(path);
  }
  cv::Mat image = depth_file::decodeUnchanged(bytes);
  if (image.empty()) {
    failToRead(path);
  }
  return image;
}

const cv::Mat& depthImageOf(const cv::Mat& depth_image, const CameraModel& /*model*/) {
  return depth_image;
}

cv::Mat depthImageOf(const std::string& depth_image_path, const CameraModel& model) {
  return readDepthFileFor(depth_image_path, model);
}

CameraModel modelOf(const sensor_msgs::msg::CameraInfo& camera_info) {
  return cameraModelFromCameraInfo(camera_info);
}

const CameraModel& modelOf(const CameraModel& model) {
  return model;
}

// The sixteen forms: camera model, then both transforms (arm_base_to_map first, so its JSON
// errors win), then the image file, then the core, for 16-bit millimetres in the window.
template <typename DepthSource, typename Camera, typename Transform>
ProjectionContext createVia(const DepthSource& depth_source, const Camera& camera,
                            const Transform& camera_to_arm_base, const Transform& arm_base_to_map,
                            int min_depth, int max_depth) {
  const auto& model = modelOf(camera);
  const Eigen::Matrix4d arm_base_to_map_matrix = toEigenTransform(arm_base_to_map);
  const Eigen::Matrix4d camera_to_arm_base_matrix = toEigenTransform(camera_to_arm_base);
  const auto& depth_image = depthImageOf(depth_source, model);
  DepthOptions millimetres;
  millimetres.min_depth = min_depth;
  millimetres.max_depth = max_depth;
  return buildProjectionContext(depth_image, model, camera_to_arm_base_matrix,
                                arm_base_to_map_matrix, millimetres, Caller::kSixteenForms);
}

}  // namespace

ProjectionContext createProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                                          const Eigen::Isometry3d& camera_to_arm_base,
                                          const Eigen::Isometry3d& arm_base_to_map,
                                          const DepthOptions& depth_options) {
  return buildProjectionContext(depth_image, model, camera_to_arm_base.matrix(),
                                arm_base_to_map.matrix(), depth_options, Caller::kOptionsEntry);
}

ProjectionContext projectionContextOverImage(const cv::Mat& depth_image, const CameraModel& model,
                                             const Eigen::Isometry3d& camera_to_arm_base,
                                             const Eigen::Isometry3d& arm_base_to_map,
                                             const DepthOptions& depth_options) {
  return buildProjectionContext(depth_image, model, camera_to_arm_base.matrix(),
                                arm_base_to_map.matrix(), depth_options, Caller::kOptionsEntry,
                                Pixels::kShared);
}

// The sixteen forms, each forwarding to the chain above. The logger parameter is part of
// every signature and deliberately unused: construction reports failures by exception only.

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

}  // namespace vantorel_base_utils
