// Construction of a ProjectionContext from every accepted form of its inputs.
#include <stdexcept>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_base_utils {

namespace {

[[noreturn]] void fail(const std::string& message) {
  throw std::runtime_error(message);
}

void checkDepthImage(const cv::Mat& depth_image, const CameraModel& model) {
  if (depth_image.empty()) {
    fail("Depth image is empty");
  }
  if (depth_image.type() != CV_16UC1) {
    fail("Depth image must be CV_16UC1, actual type=" + std::to_string(depth_image.type()));
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

// The one construction all sixteen overloads reduce to.
ProjectionContext buildProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                                         const Eigen::Matrix4d& camera_to_arm_base,
                                         const Eigen::Matrix4d& arm_base_to_map, int min_depth,
                                         int max_depth) {
  ProjectionContext ctx;
  ctx.fx = model.fx;
  ctx.fy = model.fy;
  ctx.cx = model.cx;
  ctx.cy = model.cy;
  ctx.min_depth = min_depth;
  ctx.max_depth = max_depth;
  if (!(model.fx > 0.0 && model.fy > 0.0)) {
    fail("camera_intrinsics invalid");
  }
  checkDepthImage(depth_image, model);
  // The caller may reuse its image for the next frame; the context must not see that.
  ctx.depth = depth_image.clone();
  ctx.camera_to_arm_base = camera_to_arm_base;
  ctx.camera_to_map = arm_base_to_map * camera_to_arm_base;
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
                            int min_depth, int max_depth) {
  const auto& model = modelOf(camera);
  const Eigen::Matrix4d arm_base_to_map_matrix = toEigenTransform(arm_base_to_map);
  const Eigen::Matrix4d camera_to_arm_base_matrix = toEigenTransform(camera_to_arm_base);
  const auto& depth_image = loadDepthImage(depth_source);
  return buildProjectionContext(depth_image, model, camera_to_arm_base_matrix,
                                arm_base_to_map_matrix, min_depth, max_depth);
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

cv::Mat readDepthImage(const std::string& depth_image_path) {
  cv::Mat image = readImageFile(depth_image_path);
  if (image.empty()) {
    fail("Failed to read depth image: " + depth_image_path);
  }
  return image;
}

}  // namespace vantorel_base_utils
