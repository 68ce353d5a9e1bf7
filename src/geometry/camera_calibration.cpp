// The camera_calibration YAML file read into a CameraInfo message.
#include "vantorel_base_utils/camera_calibration.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vantorel_base_utils/regular_file.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace vantorel_base_utils {

namespace {

// Largest image side accepted; far above any camera, far below what would overflow.
constexpr int kMaxImageSide = 1'000'000;

[[noreturn]] void invalid(const std::string& reason) {
  throw std::runtime_error(reason);
}

// The member `key` of a mapping; nothing when it is absent or null.
std::optional<YAML::Node> memberOf(const YAML::Node& map, const std::string& key) {
  const YAML::Node value = map[key];
  if (!value.IsDefined() || value.IsNull()) {
    return std::nullopt;
  }
  return value;
}

YAML::Node requiredMember(const YAML::Node& map, const std::string& key) {
  std::optional<YAML::Node> value = memberOf(map, key);
  if (!value) {
    invalid(key + " is missing");
  }
  return *value;
}

// The text of a name exactly as written: "0815" stays "0815", "on" stays "on".
std::string textOf(const YAML::Node& root, const std::string& key, const std::string& absent) {
  const std::optional<YAML::Node> value = memberOf(root, key);
  if (!value) {
    return absent;
  }
  if (!value->IsScalar()) {
    invalid(key + " must be a single value");
  }
  return value->Scalar();
}

// A number as the YAML-to-JSON conversion reads one: an int (any base yaml-cpp detects),
// else a floating-point value; booleans and other words are no numbers.
bool numberOf(const YAML::Node& node, double& value) {
  int integer = 0;
  if (YAML::convert<int>::decode(node, integer)) {
    value = integer;
    return true;
  }
  return YAML::convert<double>::decode(node, value);
}

std::uint32_t imageSize(const YAML::Node& root, const std::string& key) {
  int value = 0;
  if (!YAML::convert<int>::decode(requiredMember(root, key), value)) {
    invalid(key + " must be a whole number");
  }
  if (value < 0 || value > kMaxImageSide) {
    invalid(key + " out of range");
  }
  return static_cast<std::uint32_t>(value);
}

// The "data" list of a matrix member.
std::vector<double> matrixData(const YAML::Node& matrix, const std::string& key) {
  const std::optional<YAML::Node> data =
      matrix.IsMap() ? memberOf(matrix, "data") : std::optional<YAML::Node>();
  if (!data || !data->IsSequence()) {
    invalid(key + ".data must be a list of numbers");
  }
  std::vector<double> values;
  values.reserve(data->size());
  for (const YAML::Node& item : *data) {
    double value = 0.0;
    if (!numberOf(item, value)) {
      invalid(key + ".data must hold only numbers");
    }
    values.push_back(value);
  }
  return values;
}

template <std::size_t N>
std::array<double, N> fixedMatrix(const YAML::Node& matrix, const std::string& key) {
  const std::vector<double> data = matrixData(matrix, key);
  if (data.size() != N) {
    invalid(key + ".data must hold " + std::to_string(N) + " numbers");
  }
  std::array<double, N> values{};
  std::copy(data.begin(), data.end(), values.begin());
  return values;
}

sensor_msgs::msg::CameraInfo cameraInfoOf(const YAML::Node& root) {
  if (!root.IsMap()) {
    invalid("not a mapping of calibration members");
  }
  sensor_msgs::msg::CameraInfo info;
  info.header.frame_id = textOf(root, "camera_name", "");
  info.width = imageSize(root, "image_width");
  info.height = imageSize(root, "image_height");
  info.distortion_model = textOf(root, "distortion_model", "plumb_bob");
  if (const auto d = memberOf(root, "distortion_coefficients")) {
    info.d = matrixData(*d, "distortion_coefficients");
  }
  info.k = fixedMatrix<9>(requiredMember(root, "camera_matrix"), "camera_matrix");
  const auto r = memberOf(root, "rectification_matrix");
  info.r = r ? fixedMatrix<9>(*r, "rectification_matrix")
             : std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (const auto p = memberOf(root, "projection_matrix")) {
    info.p = fixedMatrix<12>(*p, "projection_matrix");
  }
  return info;
}

}  // namespace

sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(const std::string& path,
                                                           const rclcpp::Logger& logger) {
  // Checked first so that a missing file gets a plain message rather than the YAML reader's,
  // and so that no larger file is parsed at all.
  try {
    checkRegularFile(path, kMaxCalibrationFileBytes);
  } catch (const FileReadError& e) {
    const bool missing = e.reason() == FileReadError::Reason::kCannotOpen;
    throw std::runtime_error(path + ": " + (missing ? std::string("cannot open file") : e.what()));
  }
  // The members are read from the YAML nodes, not from their JSON conversion, which types a
  // scalar by its text: a camera named 0815 would become the number 815.
  try {
    return cameraInfoOf(readYaml(path, logger));
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": not a camera calibration: " + e.what());
  }
}

}  // namespace vantorel_base_utils
