// SPDX-License-Identifier: Apache-2.0
// Camera files read into CameraInfo messages: the camera_calibration YAML, and the message
// itself as ros2 topic echo and rostopic echo print it.
#include "vantorel_base_utils/camera_calibration.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <yaml-cpp/yaml.h>
#include <rclcpp/logging.hpp>

#include "io/camera_model_checks.hpp"
#include "io/yaml_ambiguity.hpp"
#include "io/yaml_text.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_base_utils {

namespace {

constexpr long long kMaxUint32 = std::numeric_limits<std::uint32_t>::max();

using Reason = InputError::Reason;

// What is wrong with the content, without the file's name, which describingFailures adds.
[[noreturn]] void invalid(const std::string& reason, Reason kind = Reason::kMalformed) {
  throw InputError(kind, "", reason);
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

std::vector<double> numberList(const YAML::Node& list, const std::string& name) {
  if (!list.IsSequence()) {
    invalid(name + " must be a list of numbers");
  }
  std::vector<double> values;
  values.reserve(list.size());
  for (const YAML::Node& item : list) {
    double value = 0.0;
    if (!numberOf(item, value)) {
      invalid(name + " must hold only numbers");
    }
    values.push_back(value);
  }
  return values;
}

template <std::size_t N>
std::array<double, N> fixedList(const YAML::Node& list, const std::string& name) {
  const std::vector<double> data = numberList(list, name);
  if (data.size() != N) {
    invalid(name + " must hold " + std::to_string(N) + " numbers");
  }
  std::array<double, N> values{};
  std::copy(data.begin(), data.end(), values.begin());
  return values;
}

// The members of one mapping, named in messages by their path from the file's top
// ("roi.width").
class Members {
 public:
  Members(const YAML::Node& map, std::string prefix) : map_(map), prefix_(std::move(prefix)) {
    if (!map_.IsMap()) {
      invalid(prefix_.empty() ? "not a mapping of members"
                              : prefix_.substr(0, prefix_.size() - 1) + " must be a mapping");
    }
  }

  std::string nameOf(const std::string& key) const { return prefix_ + key; }

  bool has(const std::string& key) const { return map_[key].IsDefined(); }

  // Nothing when the member is absent or null.
  std::optional<YAML::Node> optional(const std::string& key) const {
    const YAML::Node value = map_[key];
    if (!value.IsDefined() || value.IsNull()) {
      return std::nullopt;
    }
    return value;
  }

  YAML::Node required(const std::string& key) const {
    std::optional<YAML::Node> value = optional(key);
    if (!value) {
      invalid(nameOf(key) + " is missing");
    }
    return *value;
  }

  // The text of a name exactly as written: "0815" stays "0815", "on" stays "on".
  std::string text(const std::string& key, const std::string& absent) const {
    const std::optional<YAML::Node> value = optional(key);
    if (!value) {
      return absent;
    }
    if (!value->IsScalar()) {
      invalid(nameOf(key) + " must be a single value");
    }
    return value->Scalar();
  }

  // A whole number from `min` to `max`, strictly: 640 passes, 640.0 and 640.5 do not.
  long long whole(const YAML::Node& node, const std::string& key, long long min,
                  long long max) const {
    long long value = 0;
    if (!YAML::convert<long long>::decode(node, value)) {
      invalid(nameOf(key) + " must be a whole number");
    }
    if (value < min || value > max) {
      invalid(nameOf(key) + " out of range", Reason::kOutOfRange);
    }
    return value;
  }

  long long whole(const std::string& key, long long min, long long max, long long absent) const {
    const std::optional<YAML::Node> value = optional(key);
    return value ? whole(*value, key, min, max) : absent;
  }

  std::uint32_t imageSize(const std::string& key) const {
    return static_cast<std::uint32_t>(whole(required(key), key, 0, kMaxCameraImageSide));
  }

  std::uint32_t uint32(const std::string& key) const {
    return static_cast<std::uint32_t>(whole(key, 0, kMaxUint32, 0));
  }

  bool boolean(const std::string& key) const {
    const std::optional<YAML::Node> value = optional(key);
    bool result = false;
    if (value && !YAML::convert<bool>::decode(*value, result)) {
      invalid(nameOf(key) + " must be true or false");
    }
    return result;
  }

  template <std::size_t N>
  std::optional<std::array<double, N>> list(const std::string& key) const {
    const std::optional<YAML::Node> value = optional(key);
    return value ? std::optional(fixedList<N>(*value, nameOf(key))) : std::nullopt;
  }

 private:
  const YAML::Node map_;
  std::string prefix_;
};

// ---- the camera_calibration YAML

// The "data" list of a matrix member.
YAML::Node matrixData(const YAML::Node& matrix, const std::string& key) {
  const std::optional<YAML::Node> data =
      matrix.IsMap() ? Members(matrix, key + ".").optional("data") : std::nullopt;
  if (!data || !data->IsSequence()) {
    invalid(key + ".data must be a list of numbers");
  }
  return *data;
}

// rows and cols are optional (hand-written files leave them out), but when given they must
// describe the data: a matrix written 3x4 with 9 numbers is a matrix whose numbers are wrong.
struct MatrixShape {
  long long rows = -1;  // -1: not given
  long long cols = -1;
};

MatrixShape shapeOf(const YAML::Node& matrix, const std::string& key) {
  const Members members(matrix, key + ".");
  return {members.whole("rows", 0, kMaxCameraImageSide, -1),
          members.whole("cols", 0, kMaxCameraImageSide, -1)};
}

[[noreturn]] void wrongShape(const std::string& field, long long value, const std::string& fact,
                             const std::string& remedy) {
  invalid(field + " is " + std::to_string(value) + ", but " + fact + ": write " + remedy);
}

template <std::size_t N>
std::array<double, N> fixedMatrix(const YAML::Node& matrix, const std::string& key,
                                  long long rows) {
  const std::array<double, N> values = fixedList<N>(matrixData(matrix, key), key + ".data");
  const long long cols = static_cast<long long>(N) / rows;
  const MatrixShape shape = shapeOf(matrix, key);
  const std::string fact = key + " is " + std::to_string(rows) + "x" + std::to_string(cols) +
                           " (its data holds " + std::to_string(N) + " numbers)";
  if (shape.rows >= 0 && shape.rows != rows) {
    wrongShape(key + ".rows", shape.rows, fact, "rows: " + std::to_string(rows));
  }
  if (shape.cols >= 0 && shape.cols != cols) {
    wrongShape(key + ".cols", shape.cols, fact, "cols: " + std::to_string(cols));
  }
  return values;
}

// A row or a column of coefficients, as many as its data holds.
std::vector<double> coefficientList(const YAML::Node& matrix, const std::string& key) {
  std::vector<double> values = numberList(matrixData(matrix, key), key + ".data");
  const auto count = static_cast<long long>(values.size());
  const MatrixShape shape = shapeOf(matrix, key);
  const std::string fact = "its data holds " + std::to_string(count) + " numbers";
  const std::string remedy = "rows: 1 and cols: " + std::to_string(count);
  const auto fits = [&](long long side) { return side < 0 || side == 1 || side == count; };
  if (!fits(shape.rows)) {
    wrongShape(key + ".rows", shape.rows, fact, remedy);
  }
  if (!fits(shape.cols) ||
      (shape.rows >= 0 && shape.cols >= 0 && shape.rows * shape.cols != count)) {
    wrongShape(key + ".cols", shape.cols, fact, remedy);
  }
  return values;
}

sensor_msgs::msg::CameraInfo cameraInfoOfCalibration(const YAML::Node& root) {
  const Members members(root, "");
  sensor_msgs::msg::CameraInfo info;
  info.header.frame_id = members.text("camera_name", "");
  info.width = members.imageSize("image_width");
  info.height = members.imageSize("image_height");
  info.distortion_model = members.text("distortion_model", "plumb_bob");
  if (const auto d = members.optional("distortion_coefficients")) {
    info.d = coefficientList(*d, "distortion_coefficients");
  }
  info.k = fixedMatrix<9>(members.required("camera_matrix"), "camera_matrix", 3);
  const auto r = members.optional("rectification_matrix");
  info.r = r ? fixedMatrix<9>(*r, "rectification_matrix", 3)
             : std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (const auto p = members.optional("projection_matrix")) {
    info.p = fixedMatrix<12>(*p, "projection_matrix", 3);
  }
  return info;
}

// ---- the message as echoed

// The member names that differ between the ROS 2 and the ROS 1 message.
struct MessageKeys {
  const char* d;
  const char* k;
  const char* r;
  const char* p;
  const char* sec;
  const char* nanosec;
};
constexpr MessageKeys kRos2Keys{"d", "k", "r", "p", "sec", "nanosec"};
constexpr MessageKeys kRos1Keys{"D", "K", "R", "P", "secs", "nsecs"};

void readHeader(const YAML::Node& node, const MessageKeys& keys, std_msgs::msg::Header& header) {
  const Members members(node, "header.");
  header.frame_id = members.text("frame_id", "");
  if (const auto stamp = members.optional("stamp")) {
    const Members time(*stamp, "header.stamp.");
    header.stamp.sec = static_cast<std::int32_t>(
        time.whole(keys.sec, 0, std::numeric_limits<std::int32_t>::max(), 0));
    header.stamp.nanosec = static_cast<std::uint32_t>(time.whole(keys.nanosec, 0, 999'999'999, 0));
  }
}

void readRoi(const YAML::Node& node, sensor_msgs::msg::RegionOfInterest& roi) {
  const Members members(node, "roi.");
  roi.x_offset = members.uint32("x_offset");
  roi.y_offset = members.uint32("y_offset");
  roi.height = members.uint32("height");
  roi.width = members.uint32("width");
  roi.do_rectify = members.boolean("do_rectify");
}

// Members that are absent keep the message's defaults; height, width and the camera matrix
// are required.
sensor_msgs::msg::CameraInfo cameraInfoOfMessage(const YAML::Node& root, const MessageKeys& keys) {
  const Members members(root, "");
  sensor_msgs::msg::CameraInfo info;
  if (const auto header = members.optional("header")) {
    readHeader(*header, keys, info.header);
  }
  info.height = members.imageSize("height");
  info.width = members.imageSize("width");
  info.distortion_model = members.text("distortion_model", "");
  if (const auto d = members.optional(keys.d)) {
    info.d = numberList(*d, keys.d);
  }
  info.k = fixedList<9>(members.required(keys.k), keys.k);
  info.r = members.list<9>(keys.r).value_or(info.r);
  info.p = members.list<12>(keys.p).value_or(info.p);
  info.binning_x = members.uint32("binning_x");
  info.binning_y = members.uint32("binning_y");
  if (const auto roi = members.optional("roi")) {
    readRoi(*roi, info.roi);
  }
  return info;
}

// ---- the three forms

enum class CameraFileForm { kCalibration, kRos2Message, kRos1Message };

const char* failurePrefix(CameraFileForm form) {
  switch (form) {
    case CameraFileForm::kCalibration:
      return "not a camera calibration";
    case CameraFileForm::kRos2Message:
      return "not a CameraInfo message as ros2 topic echo prints it";
    case CameraFileForm::kRos1Message:
      break;
  }
  return "not a CameraInfo message as rostopic echo prints it";
}

bool hasAnyOf(const Members& members, std::initializer_list<const char*> keys) {
  return std::any_of(keys.begin(), keys.end(), [&](const char* key) { return members.has(key); });
}

const char* firstOf(const Members& members, std::initializer_list<const char*> keys) {
  const auto* found =
      std::find_if(keys.begin(), keys.end(), [&](const char* key) { return members.has(key); });
  return found == keys.end() ? nullptr : *found;
}

// Each form reads its own members only, so a member of the other form beside them (a k beside
// camera_matrix) would be ignored without a word.
void requireOneForm(const YAML::Node& root) {
  const Members members(root, "");
  const char* calibration =
      firstOf(members, {"camera_matrix", "image_width", "image_height", "camera_name",
                        "distortion_coefficients", "rectification_matrix", "projection_matrix"});
  const char* message = firstOf(members, {"k", "K", "p", "P", "d", "D", "r", "R", "height", "width",
                                          "header", "binning_x", "binning_y", "roi"});
  if (calibration != nullptr && message != nullptr) {
    invalid("holds " + std::string(calibration) + " of the camera calibration YAML beside " +
            message + " of a CameraInfo message; one form is read and the other's members " +
            "would be ignored: keep one form");
  }
}

// Told apart by the members only one form has: image_width or camera_matrix, upper-case
// matrices (ROS 1), lower-case ones (ROS 2).
CameraFileForm formOf(const YAML::Node& root) {
  requireOneForm(root);
  const Members members(root, "");
  if (hasAnyOf(members, {"image_width", "image_height", "camera_matrix"})) {
    return CameraFileForm::kCalibration;
  }
  const bool ros1 = hasAnyOf(members, {"K", "D", "R", "P"});
  const bool ros2 = hasAnyOf(members, {"k", "d", "r", "p"});
  if (ros1 && ros2) {
    invalid(
        "holds both upper-case (ROS 1: K, D, R, P) and lower-case (ROS 2: k, d, r, p) "
        "matrices");
  }
  if (ros1) {
    return CameraFileForm::kRos1Message;
  }
  if (ros2 || hasAnyOf(members, {"height", "width"})) {
    return CameraFileForm::kRos2Message;
  }
  invalid(
      "holds none of image_width (camera calibration YAML), k (CameraInfo as ros2 topic "
      "echo prints it) or K (as rostopic echo prints it)");
}

CameraFieldNames fieldNamesOf(CameraFileForm form) {
  switch (form) {
    case CameraFileForm::kCalibration:
      return {"camera_matrix.data", "projection_matrix.data", "distortion_coefficients.data",
              "image_width", "image_height"};
    case CameraFileForm::kRos2Message:
      return {"k", "p", "d", "width", "height"};
    case CameraFileForm::kRos1Message:
      break;
  }
  return {"K", "P", "D", "width", "height"};
}

sensor_msgs::msg::CameraInfo cameraInfoOfForm(const YAML::Node& root, CameraFileForm form) {
  switch (form) {
    case CameraFileForm::kCalibration:
      return cameraInfoOfCalibration(root);
    case CameraFileForm::kRos2Message:
      return cameraInfoOfMessage(root, kRos2Keys);
    case CameraFileForm::kRos1Message:
      break;
  }
  return cameraInfoOfMessage(root, kRos1Keys);
}

// Runs `read`, naming the file and what it is not in the message of any failure. yaml-cpp's
// own exceptions are never let through: their texts speak of its internals.
template <typename Read>
auto describingFailures(const std::string& path, const char* prefix, Read&& read) {
  try {
    return read();
  } catch (const YAML::Exception&) {
    throw InputError(Reason::kMalformed, path,
                     path + ": " + prefix + ": a member of an unexpected kind");
  } catch (const InputError& e) {
    throw InputError(e.reason(), path, path + ": " + prefix + ": " + e.what());
  } catch (const std::runtime_error& e) {
    throw InputError(Reason::kMalformed, path, path + ": " + prefix + ": " + e.what());
  }
}

// The file's first YAML document. A missing file, a path that is no regular file and a file
// beyond the size bound are refused first, so that none of them is parsed at all.
YAML::Node readCameraFile(const std::string& path, const char* prefix) {
  std::string text;
  try {
    text = readRegularFile(path, kMaxCalibrationFileBytes);
  } catch (const FileReadError& e) {
    const bool missing = e.reason() == FileReadError::Reason::kCannotOpen;
    throw InputError(Reason::kUnreadable, path,
                     path + ": " + (missing ? std::string("cannot open file") : e.what()));
  }
  return describingFailures(path, prefix, [&] {
    try {
      YAML::Node root = parseYamlText(text);
      if (const std::optional<std::string> ambiguity = yamlAmbiguity(text)) {
        invalid(*ambiguity + ": a camera file gives one camera, each member once (ros2 topic " +
                "echo --once saves one message)");
      }
      return root;
    } catch (const YAML::ParserException& e) {
      if (e.mark.is_null()) {
        invalid(e.msg, Reason::kOverLimit);  // one of our own bounds, phrased by us
      }
      invalid("not valid YAML (line " + std::to_string(e.mark.line + 1) + ", column " +
              std::to_string(e.mark.column + 1) + ")");
    }
  });
}

// What the projection would get wrong is refused naming the file; what the caller must know
// (distortion the projection ignores) is logged once.
sensor_msgs::msg::CameraInfo checkedForProjection(const std::string& path,
                                                  sensor_msgs::msg::CameraInfo info,
                                                  CameraFileForm form,
                                                  const rclcpp::Logger& logger) {
  std::vector<std::string> warnings;
  try {
    warnings = checkPinholeCamera(info, fieldNamesOf(form));
  } catch (const InputError& e) {
    throw InputError(e.reason(), path, path + ": " + e.what());
  }
  for (const std::string& warning : warnings) {
    RCLCPP_WARN(logger, "%s: %s", path.c_str(), warning.c_str());
  }
  return info;
}

}  // namespace

sensor_msgs::msg::CameraInfo cameraInfoFromCalibrationFile(const std::string& path,
                                                           const rclcpp::Logger& logger) {
  // The members are read from the YAML nodes, not from their JSON conversion, which types a
  // scalar by its text: a camera named 0815 would become the number 815.
  const char* prefix = failurePrefix(CameraFileForm::kCalibration);
  const YAML::Node root = readCameraFile(path, prefix);
  sensor_msgs::msg::CameraInfo info = describingFailures(path, prefix, [&] {
    requireOneForm(root);
    try {
      return cameraInfoOfCalibration(root);
    } catch (const std::runtime_error& e) {
      std::optional<CameraFileForm> form;
      try {
        form = formOf(root);
      } catch (const std::runtime_error&) {
      }
      if (form && *form != CameraFileForm::kCalibration) {
        const auto* refused = dynamic_cast<const InputError*>(&e);
        invalid(std::string(e.what()) + " (the file is a CameraInfo message, which " +
                    "cameraInfoFromFile reads)",
                refused != nullptr ? refused->reason() : Reason::kMalformed);
      }
      throw;
    }
  });
  return checkedForProjection(path, std::move(info), CameraFileForm::kCalibration, logger);
}

sensor_msgs::msg::CameraInfo cameraInfoFromFile(const std::string& path,
                                                const rclcpp::Logger& logger) {
  const char* unknown = "not a camera file";
  const YAML::Node root = readCameraFile(path, unknown);
  const CameraFileForm form = describingFailures(path, unknown, [&] { return formOf(root); });
  sensor_msgs::msg::CameraInfo info =
      describingFailures(path, failurePrefix(form), [&] { return cameraInfoOfForm(root, form); });
  return checkedForProjection(path, std::move(info), form, logger);
}

}  // namespace vantorel_base_utils
