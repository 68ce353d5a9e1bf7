// SPDX-License-Identifier: Apache-2.0
// A camera file's intrinsics checked against the pinhole model the projection applies.
#include "io/camera_model_checks.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/number_text.hpp"
#include "vantorel_base_utils/input_error.hpp"

namespace vantorel_base_utils {

namespace {

using Reason = InputError::Reason;

[[noreturn]] void refuse(Reason reason, const std::string& message) {
  throw InputError(reason, "", message);
}

// Where a 3x3 camera matrix and a 3x4 projection matrix keep the pinhole parameters.
struct MatrixLayout {
  const char* form;  // the pinhole form, for messages
  std::size_t fx, fy, cx, cy, skew;
  std::vector<std::size_t> zeros;  // entries the form fixes at 0, besides the skew
  std::size_t one;                 // the entry the form fixes at 1
};

const MatrixLayout kCameraMatrix{"fx 0 cx, 0 fy cy, 0 0 1", 0, 4, 2, 5, 1, {3, 6, 7}, 8};
const MatrixLayout kProjectionMatrix{
    "fx 0 cx Tx, 0 fy cy Ty, 0 0 1 0", 0, 5, 2, 6, 1, {4, 8, 9, 11}, 10};

struct MatrixView {
  const std::string& name;
  const double* values;
  std::size_t size;
  const MatrixLayout& layout;
  const char* kind;  // "camera matrix", "projection matrix"
};

std::string entryName(const std::string& name, std::size_t i) {
  return name + "[" + std::to_string(i) + "]";
}

void requireFinite(const std::string& name, const double* values, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (!std::isfinite(values[i])) {
      refuse(Reason::kNotFinite,
             entryName(name, i) + " is " + numberText(values[i]) + ", not a finite number");
    }
  }
}

void requireFixedEntry(const MatrixView& m, std::size_t i, double expected) {
  const double value = m.values[i];
  if (value == expected) {
    return;
  }
  const std::string entry = entryName(m.name, i);
  const std::string shape = ", but a " + std::string(m.kind) + " is " + m.layout.form;
  if (i == m.layout.skew) {
    refuse(Reason::kUnsupported,
           entry + " is " + numberText(value) + shape +
               ": a skew between the pixel axes, which the projection does not model; "
               "calibrate with the skew fixed at 0, as ROS camera calibration does");
  }
  const bool scaled = i == m.layout.one && value != 0.0;
  refuse(Reason::kMalformed,
         entry + " is " + numberText(value) + shape +
             (scaled ? ": if the matrix was scaled, divide every entry by " + numberText(value)
                     : ": write it in that form"));
}

void requireFocalLength(const MatrixView& m, std::size_t i, const char* symbol, const char* axis,
                        const char* down) {
  const double value = m.values[i];
  const std::string entry = entryName(m.name, i) + " (" + symbol + ")";
  if (value < 0.0) {
    refuse(Reason::kUnsupported,
           entry + " is " + numberText(value) + ", a negative focal length, which flips the " +
               axis + " axis as ICL-NUIM's camera files do; the projection takes the ROS camera " +
               "convention (x right, y down, z forward, focal lengths above 0), and with a " +
               "flipped axis every point would land mirrored: pass " + symbol + " = " +
               numberText(-value) + " and give camera_to_arm_base for the " + down +
               " camera frame");
  }
  if (value == 0.0) {
    refuse(Reason::kOutOfRange, entry + " is 0, but a focal length is above 0: give the " +
                                    "camera's calibrated focal length in pixels");
  }
}

// Within one image side beyond the image's edge. A camera's principal point lies in or near
// its image (near the centre for most lenses; a shifted lens or an off-centre crop moves it
// towards or past an edge); one image side beyond the edge is far more likely a unit mix-up
// or another camera's numbers than a real camera, and 1e30 would put points 1e27 m away.
void requirePrincipalPoint(const MatrixView& m, std::size_t i, const char* symbol,
                           std::uint32_t side, const std::string& side_name) {
  const double value = m.values[i];
  const double extent = side > 0 ? side : static_cast<double>(kMaxCameraImageSide);
  if (value >= -extent && value <= 2.0 * extent) {
    return;
  }
  const std::string reach =
      side > 0 ? "one image side (" + side_name + " " + std::to_string(side) + " pixels)"
               : std::to_string(kMaxCameraImageSide) + " pixels (" + side_name +
                     " is 0, so the largest image side taken)";
  refuse(Reason::kOutOfRange,
         entryName(m.name, i) + " (" + symbol + ") is " + numberText(value) + ", more than " +
             reach + " beyond the image's edge, where a camera's principal point lies in or " +
             "near its image: check that it is this camera's " + symbol + " in pixels");
}

void checkMatrix(const MatrixView& m, const sensor_msgs::msg::CameraInfo& info,
                 const CameraFieldNames& names) {
  if (std::all_of(m.values, m.values + m.size, [](double v) { return v == 0.0; })) {
    return;  // not given
  }
  requireFinite(m.name, m.values, m.size);
  requireFixedEntry(m, m.layout.skew, 0.0);
  for (const std::size_t i : m.layout.zeros) {
    requireFixedEntry(m, i, 0.0);
  }
  requireFixedEntry(m, m.layout.one, 1.0);
  requireFocalLength(m, m.layout.fx, "fx", "x", "x-right");
  requireFocalLength(m, m.layout.fy, "fy", "y", "y-down");
  requirePrincipalPoint(m, m.layout.cx, "cx", info.width, names.width);
  requirePrincipalPoint(m, m.layout.cy, "cy", info.height, names.height);
}

// One warning, however many coefficients: they all say the same about the depth image.
std::vector<std::string> distortionWarnings(const std::vector<double>& d, const std::string& name) {
  const auto distorted = std::find_if(d.begin(), d.end(), [](double v) { return v != 0.0; });
  if (distorted == d.end()) {
    return {};
  }
  const auto at = static_cast<std::size_t>(distorted - d.begin());
  return {name + " holds distortion coefficients that are not all zero (" + entryName(name, at) +
          " = " + numberText(*distorted) +
          "): the projection takes the depth image as rectified and ignores them, so the "
          "depth image must be rectified (undistorted) first, or points away from the image "
          "centre land off by the lens distortion"};
}

}  // namespace

std::vector<std::string> checkPinholeCamera(const sensor_msgs::msg::CameraInfo& info,
                                            const CameraFieldNames& names) {
  checkMatrix({names.k, info.k.data(), info.k.size(), kCameraMatrix, "camera matrix"}, info, names);
  checkMatrix({names.p, info.p.data(), info.p.size(), kProjectionMatrix, "projection matrix"}, info,
              names);
  requireFinite(names.d, info.d.data(), info.d.size());
  return distortionWarnings(info.d, names.d);
}

}  // namespace vantorel_base_utils
