// Lifting pixels of a 16-bit depth image into 3D points in the arm-base or map frame.
//
// A ProjectionContext is built once per frame by createProjectionContext and then serves any
// number of projection calls, from any number of threads, read-only.
#ifndef VANTOREL_BASE_UTILS__PROJECTION_HPP_
#define VANTOREL_BASE_UTILS__PROJECTION_HPP_

#include <array>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

struct ProjectionContext {
  cv::Mat depth;  // CV_16UC1, owned deep copy; rows are v, columns u
  Eigen::Matrix4d camera_to_arm_base = Eigen::Matrix4d::Identity();
  Eigen::Matrix4d camera_to_map =
      Eigen::Matrix4d::Identity();  // arm_base_to_map * camera_to_arm_base
  double fx = 0.0;
  double fy = 0.0;
  double cx = 0.0;
  double cy = 0.0;
  int min_depth = 0;  // raw depth window, both ends inclusive
  int max_depth = 0;
};

// Metres when the depth image is in millimetres and the transforms in metres.
//
// Like Eigen's fixed-size vectors, a default-constructed point is left uninitialised (with or
// without {}): projections size their results without clearing memory they overwrite at
// once, which is a large share of the cost of a whole frame. Give the three values instead.
struct ProjectedPoint {
  ProjectedPoint() noexcept {}
  ProjectedPoint(float px, float py, float pz) noexcept : x(px), y(py), z(pz) {}
  float x;
  float y;
  float z;
};

// Every combination of depth image (file path or image), camera (model or CameraInfo) and
// transform form (JSON document, Transform, TransformStamped or matrix, both alike).
// Failures throw std::runtime_error, or the JSON library's exception for a malformed
// transform; checked in this order: arm_base_to_map, camera_to_arm_base, reading the file,
// intrinsics, empty image, pixel type, width, height. A size of 0 in the camera skips its
// check. The logger is accepted for symmetry with the rest of the library and never used.
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const CameraModel& model,
    const nlohmann::json& camera_to_arm_base, const nlohmann::json& arm_base_to_map, int min_depth,
    int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const std::string& depth_image_path, const CameraModel& model,
                        const geometry_msgs::msg::Transform& camera_to_arm_base,
                        const geometry_msgs::msg::Transform& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const std::string& depth_image_path, const CameraModel& model,
                        const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
                        const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const CameraModel& model,
    const Eigen::Matrix4d& camera_to_arm_base, const Eigen::Matrix4d& arm_base_to_map,
    int min_depth, int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const sensor_msgs::msg::CameraInfo& camera_info,
    const nlohmann::json& camera_to_arm_base, const nlohmann::json& arm_base_to_map, int min_depth,
    int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const sensor_msgs::msg::CameraInfo& camera_info,
    const geometry_msgs::msg::Transform& camera_to_arm_base,
    const geometry_msgs::msg::Transform& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const sensor_msgs::msg::CameraInfo& camera_info,
    const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
    const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const std::string& depth_image_path, const sensor_msgs::msg::CameraInfo& camera_info,
    const Eigen::Matrix4d& camera_to_arm_base, const Eigen::Matrix4d& arm_base_to_map,
    int min_depth, int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const cv::Mat& depth_image, const CameraModel& model, const nlohmann::json& camera_to_arm_base,
    const nlohmann::json& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                        const geometry_msgs::msg::Transform& camera_to_arm_base,
                        const geometry_msgs::msg::Transform& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const cv::Mat& depth_image, const CameraModel& model,
                        const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
                        const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const cv::Mat& depth_image, const CameraModel& model, const Eigen::Matrix4d& camera_to_arm_base,
    const Eigen::Matrix4d& arm_base_to_map, int min_depth, int max_depth,
    const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const cv::Mat& depth_image, const sensor_msgs::msg::CameraInfo& camera_info,
    const nlohmann::json& camera_to_arm_base, const nlohmann::json& arm_base_to_map, int min_depth,
    int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const cv::Mat& depth_image, const sensor_msgs::msg::CameraInfo& camera_info,
                        const geometry_msgs::msg::Transform& camera_to_arm_base,
                        const geometry_msgs::msg::Transform& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext
createProjectionContext(const cv::Mat& depth_image, const sensor_msgs::msg::CameraInfo& camera_info,
                        const geometry_msgs::msg::TransformStamped& camera_to_arm_base,
                        const geometry_msgs::msg::TransformStamped& arm_base_to_map, int min_depth,
                        int max_depth, const rclcpp::Logger& logger);
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const cv::Mat& depth_image, const sensor_msgs::msg::CameraInfo& camera_info,
    const Eigen::Matrix4d& camera_to_arm_base, const Eigen::Matrix4d& arm_base_to_map,
    int min_depth, int max_depth, const rclcpp::Logger& logger);

// The depth image file as the path overloads above read it: as stored, so a 16-bit PNG stays
// 16-bit single-channel (its pixel type is not checked here). Throws std::runtime_error
// "Failed to read depth image: <path>" for a file that is missing, unreadable, or that the
// image library cannot decode or refuses.
VANTOREL_BASE_UTILS_PUBLIC cv::Mat readDepthImage(const std::string& depth_image_path);

// Pixels are (u, v) = (column, row). Pixels off the image or with a raw depth outside
// [min_depth, max_depth] are dropped silently; the others keep their input order.
// Each throws std::runtime_error("ProjectionContext is invalid") for a context with no
// 16-bit depth image or without positive focal lengths.
VANTOREL_BASE_UTILS_PUBLIC std::vector<ProjectedPoint> projectImagePointsToMap(
    const ProjectionContext& ctx, const std::vector<std::array<int, 2>>& pixels);
VANTOREL_BASE_UTILS_PUBLIC std::vector<ProjectedPoint> projectImagePointsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::array<int, 2>>& pixels);

// One result list per input list, in the same order; empty input lists stay empty entries.
VANTOREL_BASE_UTILS_PUBLIC std::vector<std::vector<ProjectedPoint>> projectImagePointSetsToMap(
    const ProjectionContext& ctx, const std::vector<std::vector<std::array<int, 2>>>& pixel_sets);
VANTOREL_BASE_UTILS_PUBLIC std::vector<std::vector<ProjectedPoint>> projectImagePointSetsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::vector<std::array<int, 2>>>& pixel_sets);

// (first, second) = (u, v).
VANTOREL_BASE_UTILS_PUBLIC std::vector<ProjectedPoint> projectPixelPairsToMap(
    const ProjectionContext& ctx, const std::vector<std::pair<int, int>>& pixels);
VANTOREL_BASE_UTILS_PUBLIC std::vector<ProjectedPoint> projectPixelPairsToArmBase(
    const ProjectionContext& ctx, const std::vector<std::pair<int, int>>& pixels);

// Image points JSON in, [[x, y, z], ...] out. The input is parsed (and may throw) before the
// context is checked.
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json projectImagePointsJsonToMap(const ProjectionContext& ctx,
                                                                      const nlohmann::json& points);
VANTOREL_BASE_UTILS_PUBLIC nlohmann::json projectImagePointsJsonToArmBase(
    const ProjectionContext& ctx, const nlohmann::json& points);

// Accepts an array whose entries are [u, v, ...], {"x": u, "y": v} or {"u": u, "v": v}, with
// JSON integers that fit in an int; "x"/"y" wins when both of its values qualify.
// Throws std::runtime_error "points must be a json array" or
// "invalid point entry in points json".
VANTOREL_BASE_UTILS_PUBLIC std::vector<std::array<int, 2>> parseImagePointsJson(
    const nlohmann::json& points);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__PROJECTION_HPP_
