// SPDX-License-Identifier: Apache-2.0
// Lifting pixels of a depth image into 3D points in the arm-base or map frame.
//
// A ProjectionContext is built once per frame by createProjectionContext and then serves any
// number of projection calls, from any number of threads, read-only. It is built from a
// depth image, a camera and two transforms: through sixteen forms for 16-bit images in
// millimetres, which take each input in whichever form the caller holds it, or through one
// entry that takes DepthOptions (any depth unit, and 32-bit float metres as ROS depth
// drivers publish them) with each input in one normalised form. Converters give those forms:
// readDepthImage (depth_image_file.hpp) for files, cameraModelFromCameraInfo (camera_model.hpp)
// for CameraInfo, toEigenTransform (transforms.hpp) or tf2::transformToEigen for transforms.
#ifndef VANTOREL_BASE_UTILS__PROJECTION_HPP_
#define VANTOREL_BASE_UTILS__PROJECTION_HPP_

#include <array>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

struct ProjectionContext {
  // Owned deep copy; rows are v, columns u. CV_16UC1 in depth units, or CV_32FC1 in metres
  // (contexts from the entry that takes DepthOptions).
  cv::Mat depth;
  Eigen::Matrix4d camera_to_arm_base = Eigen::Matrix4d::Identity();
  Eigen::Matrix4d camera_to_map =
      Eigen::Matrix4d::Identity();  // arm_base_to_map * camera_to_arm_base
  double fx = 0.0;
  double fy = 0.0;
  double cx = 0.0;
  double cy = 0.0;
  int min_depth = 0;  // depth window in depth units, both ends inclusive
  int max_depth = 0;
  double depth_scale = 0.001;  // metres per depth unit; see DepthOptions
};

// How depth values become metres, and which count as depth.
//
// A depth unit is depth_scale metres. A 16-bit image holds depth units: 0.001 for the
// millimetres most 16UC1 drivers publish (RealSense, Kinect, OpenNI), 1 / 5000.0 for TUM
// RGB-D and ICL-NUIM files. A 32-bit float image holds metres whatever the scale, and a
// value that is NaN, infinite, zero or negative is no depth (as in depth_image_proc).
// The window is in depth units for both: a 16-bit value d is kept when
// min_depth <= d <= max_depth (so a raw 0 passes when min_depth <= 0); a float value z when
// min_depth * depth_scale <= z <= max_depth * depth_scale, the products taken in double.
// With the defaults both keep every depth from 1 mm on.
struct DepthOptions {
  double depth_scale = 0.001;
  int min_depth = 1;
  int max_depth = std::numeric_limits<int>::max();
};

// Metres, when the depth unit is right (see DepthOptions) and the transforms are in metres.
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
// transform form (JSON document, Transform, TransformStamped or matrix, both alike), for
// 16-bit images in millimetres (depth_scale 0.001) with the window [min_depth, max_depth].
// Each converts its inputs and calls the entry below's construction. Failures throw
// std::runtime_error, or the JSON library's exception for a malformed transform; checked in
// this order: arm_base_to_map, camera_to_arm_base, reading the file, intrinsics
// ("camera_intrinsics invalid" unless fx > 0 and fy > 0), empty image, pixel type (CV_16UC1
// only), width, height. A size of 0 in the camera skips its check. The logger is accepted
// for symmetry with the rest of the library and never used.
//
// A file is read as readDepthImage (depth_image_file.hpp) reads one, its header before its
// pixels: "Failed to read depth image: <path>" for a file that is missing, no regular file,
// larger than kMaxDepthFileBytes, not a PNG, binary PGM or TIFF, broken, or that does not
// decode. An image whose header states more columns or rows than the camera's (non-zero)
// width or height is not decoded: after the intrinsics check it gets the width or height
// message, even when its pixel type is wrong too. With a camera that states no size, an
// image beyond kMaxDepthImagePixels is not decoded either and reported as unreadable.
//
// Then inputs that would give non-finite points are refused with an InputError
// (input_error.hpp), reason kNotFinite, each with a message naming it:
//   "camera_intrinsics invalid: fx=1e-320 is not a finite normal number" for an infinite or
//     denormal focal length, "camera_intrinsics invalid: cx=nan is not finite" for the
//     principal point;
//   "camera_to_arm_base invalid: entry (0,3)=inf is not finite", likewise arm_base_to_map;
//   "camera_to_arm_base out of range: points could reach 1e+300 m along an axis, 1e+38 m or
//     more is refused", likewise "camera_to_map (arm_base_to_map * camera_to_arm_base)", when
//     a pixel of the image at the largest depth the window keeps (taken as at least 1 unit,
//     or 1 m for float images) could land that far from the frame's origin: a translation
//     of 1e300, or fx = 1e-300.
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

// The entry for any depth unit and for float depth in metres, each input in one form:
//   depth_image: CV_16UC1 in depth units, or CV_32FC1 in metres (readDepthImage reads both
//     from files; a ROS Image converts through cv_bridge);
//   model: cameraModelFromCameraInfo of the camera's CameraInfo;
//   camera_to_arm_base, arm_base_to_map: Eigen::Isometry3d(toEigenTransform(t)) of a JSON
//     document, Transform, TransformStamped or matrix, or tf2::transformToEigen of a message.
//     Each one's whole 4x4 matrix() is used as given, as the matrix forms above use theirs.
// The checks and messages are those of the sixteen forms, in their order, except that
// CV_32FC1 images are accepted too ("Depth image must be CV_16UC1 or CV_32FC1, actual type="
// for others) and that a depth scale that is not finite, normal and positive is refused:
// "depth_scale invalid: 0 is not a finite positive normal number". Every failure is an
// InputError (input_error.hpp) whose input() names the argument: kOutOfRange for
// "camera_intrinsics invalid" and the depth scale, kMalformed for "Depth image is empty",
// kUnsupported for the pixel type, kSizeMismatch for width and height, and the reasons given
// above for the checks against non-finite points.
VANTOREL_BASE_UTILS_PUBLIC ProjectionContext createProjectionContext(
    const cv::Mat& depth_image, const CameraModel& model,
    const Eigen::Isometry3d& camera_to_arm_base, const Eigen::Isometry3d& arm_base_to_map,
    const DepthOptions& depth_options);

// Pixels are (u, v) = (column, row). Pixels off the image or without depth in the window
// (see DepthOptions) are dropped silently; the others keep their input order. Every
// coordinate returned is finite.
// Each throws std::runtime_error("ProjectionContext is invalid") for a context with no
// 16-bit or float depth image, without positive focal lengths, or (built by hand) with any
// input createProjectionContext would refuse.
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
