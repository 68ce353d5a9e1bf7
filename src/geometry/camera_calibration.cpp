// The camera_calibration YAML file read into a CameraInfo message.
#include "vantorel_base_utils/camera_calibration.hpp"

#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vantorel_base_utils/yaml_utils.hpp"

namespace vantorel_base_utils {

namespace {

using nlohmann::json;

// Largest image side accepted; far above any camera, far below what would overflow.
constexpr std::int64_t kMaxImageSide = 1'000'000;

template <std::size_t N>
std::array<double, N> calibrationMatrix(const json& doc, const char* key) {
  const json& data = doc.at(key).at("data");
  if (!data.is_array() || data.size() != N) {
    throw std::runtime_error(std::string(key) + ".data must hold " + std::to_string(N) +
                             " numbers");
  }
  std::array<double, N> values{};
  for (std::size_t i = 0; i < N; ++i) {
    values[i] = data[i].get<double>();
  }
  return values;
}

std::uint32_t imageSize(const json& doc, const char* key) {
  const auto value = doc.at(key).get<std::int64_t>();
  if (value < 0 || value > kMaxImageSide) {
    throw std::runtime_error(std::string(key) + " out of range");
  }
  return static_cast<std::uint32_t>(value);
}

sensor_msgs::msg::CameraInfo cameraInfoOf(const json& doc) {
  sensor_msgs::msg::CameraInfo info;
  info.header.frame_id = doc.value("camera_name", std::string());
  info.width = imageSize(doc, "image_width");
  info.height = imageSize(doc, "image_height");
  info.distortion_model = doc.value("distortion_model", std::string("plumb_bob"));
  if (doc.contains("distortion_coefficients")) {
    info.d = doc.at("distortion_coefficients").at("data").get<std::vector<double>>();
  }
  info.k = calibrationMatrix<9>(doc, "camera_matrix");
  info.r = doc.contains("rectification_matrix") ? calibrationMatrix<9>(doc, "rectification_matrix")
                                                : std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (doc.contains("projection_matrix")) {
    info.p = calibrationMatrix<12>(doc, "projection_matrix");
  }
  return info;
}

}  // namespace

sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(const std::string& path,
                                                           const rclcpp::Logger& logger) {
  // Checked first so that a missing file gets a plain message rather than the YAML reader's.
  if (!std::ifstream(path, std::ios::binary).is_open()) {
    throw std::runtime_error(path + ": cannot open file");
  }
  try {
    return cameraInfoOf(readYamlToJson(path, logger));
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": not a camera calibration: " + e.what());
  }
}

}  // namespace vantorel_base_utils
