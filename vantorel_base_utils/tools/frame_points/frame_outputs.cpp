// SPDX-License-Identifier: Apache-2.0
#include "frame_outputs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "output_folder.hpp"
#include "pcd_file.hpp"
#include "points_json.hpp"

namespace vantorel_tools {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Distinct colours (BGR) for class ids; ids beyond the table wrap around.
cv::Vec3b classColour(int cls) {
  static const cv::Vec3b palette[] = {{60, 76, 231},  {113, 204, 46}, {219, 152, 52},
                                      {15, 196, 241}, {182, 89, 155}, {34, 126, 230},
                                      {160, 160, 22}, {200, 200, 200}};
  const int n = static_cast<int>(sizeof(palette) / sizeof(palette[0]));
  return palette[((cls % n) + n) % n];
}

// Ranged over the pixels with depth: above 0 and, in a float image, finite.
cv::Mat falseColourDepth(const cv::Mat& depth) {
  cv::Mat valid = depth > 0;
  cv::Mat finite = depth.clone();
  if (depth.depth() == CV_32F) {
    valid &= depth < std::numeric_limits<float>::infinity();
    finite.setTo(0, ~valid);
  }
  double lo = 0.0;
  double hi = 1.0;
  cv::minMaxLoc(finite, &lo, &hi, nullptr, nullptr, valid);
  // 16-bit units span at least 1, float metres at least 1 mm.
  const double span = std::max(hi - lo, depth.depth() == CV_32F ? 0.001 : 1.0);
  cv::Mat scaled;
  finite.convertTo(scaled, CV_8U, 255.0 / span, -lo * 255.0 / span);
  cv::Mat coloured;
  cv::applyColorMap(scaled, coloured, cv::COLORMAP_TURBO);
  coloured.setTo(cv::Scalar(0, 0, 0), ~valid);
  return coloured;
}

// A box corner where it can be drawn: corners far off the picture are moved to just outside
// it, where the line leaves the picture all the same, so that their conversion to int is
// defined. Nothing for a NaN corner.
std::optional<cv::Point> drawablePoint(float x, float y, const cv::Mat& image) {
  if (std::isnan(x) || std::isnan(y)) {
    return std::nullopt;
  }
  constexpr float kMargin = 16.0F;  // wider than the line
  const auto onCanvas = [](float v, int size) {
    return static_cast<int>(std::clamp(v, -kMargin, static_cast<float>(size) + kMargin));
  };
  return cv::Point(onCanvas(x, image.cols), onCanvas(y, image.rows));
}

void drawInstance(cv::Mat& image, const vantorel_base_utils::InstancePoints& instance) {
  const auto& detection = instance.detection;
  const cv::Vec3b colour = classColour(detection.cls);
  for (const auto& [u, v] : instance.pixels) {
    if (u >= 0 && v >= 0 && u < image.cols && v < image.rows) {
      cv::Vec3b& px = image.at<cv::Vec3b>(v, u);
      for (int c = 0; c < 3; ++c) {
        px[c] = static_cast<uchar>((px[c] + colour[c]) / 2);
      }
    }
  }
  const auto top_left = drawablePoint(detection.x1, detection.y1, image);
  const auto bottom_right = drawablePoint(detection.x2, detection.y2, image);
  if (!top_left || !bottom_right) {
    return;
  }
  cv::rectangle(image, *top_left, *bottom_right, cv::Scalar(colour[0], colour[1], colour[2]), 2);
  std::ostringstream label;
  label << "cls " << detection.cls << " #" << detection.index << " " << std::fixed
        << std::setprecision(2) << detection.conf;
  cv::putText(image, label.str(), *top_left + cv::Point(0, -4), cv::FONT_HERSHEY_SIMPLEX, 0.45,
              cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
}

void appendLittleEndian(std::ostream& out, float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int shift = 0; shift < 32; shift += 8) {
    out.put(static_cast<char>((bits >> shift) & 0xFFU));
  }
}

void appendVertex(std::ostream& out, const vantorel_base_utils::ProjectedPoint& p,
                  const cv::Vec3b& bgr) {
  for (const float coordinate : {p.x, p.y, p.z}) {
    appendLittleEndian(out, coordinate);
  }
  for (const int channel : {2, 1, 0}) {
    out.put(static_cast<char>(bgr[channel]));
  }
}

// The file system library's own text ("filesystem error: cannot create directories: ...")
// is for its developers; a user needs the folder and the system's reason.
void createOutputFolder(const std::string& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) {
    throw std::runtime_error(dir + ": cannot create the output folder: " + error.message());
  }
}

std::string pngBytes(const cv::Mat& image) {
  std::vector<uchar> buffer;
  if (!cv::imencode(".png", image, buffer)) {
    throw std::runtime_error("overlay: PNG encoding failed");
  }
  return std::string(buffer.begin(), buffer.end());
}

}  // namespace

json pointsDocument(const FrameResult& result) {
  json classes = json::object();
  for (const auto& instance : result.detections.instances) {
    const auto& detection = instance.detection;
    json points = json::array();
    for (const auto& p : instance.points) {
      points.push_back({p.x, p.y, p.z});
    }
    classes[std::to_string(detection.cls)]["instances"].push_back(
        {{"detection_index", detection.index},
         {"confidence", detection.conf},
         {"bbox_xyxy", {detection.x1, detection.y1, detection.x2, detection.y2}},
         {"centroid", instance.points.empty() ? json(nullptr) : json(instance.centroid)},
         {"points", points}});
  }
  return {{"frame", frameName(result.frame)}, {"classes", classes}};
}

std::string plyFile(const FrameResult& result, PlyFormat format) {
  std::size_t count = 0;
  for (const auto& instance : result.detections.instances) {
    count += instance.points.size();
  }
  const bool binary =
      format == PlyFormat::Binary || (format == PlyFormat::Auto && count > kLargestAsciiPly);
  std::ostringstream ply;
  ply << "ply\nformat " << (binary ? "binary_little_endian" : "ascii") << " 1.0\ncomment frame "
      << frameName(result.frame) << "\nelement vertex " << count
      << "\nproperty float x\nproperty float y\nproperty float z\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
  ply << std::setprecision(9);
  for (const auto& instance : result.detections.instances) {
    const cv::Vec3b bgr = classColour(instance.detection.cls);
    for (const auto& p : instance.points) {
      if (binary) {
        appendVertex(ply, p, bgr);
      } else {
        ply << p.x << ' ' << p.y << ' ' << p.z << ' ' << int{bgr[2]} << ' ' << int{bgr[1]} << ' '
            << int{bgr[0]} << '\n';
      }
    }
  }
  return ply.str();
}

cv::Mat overlayImage(const cv::Mat& depth, const FrameResult& result) {
  cv::Mat image = falseColourDepth(depth);
  for (const auto& instance : result.detections.instances) {
    drawInstance(image, instance);
  }
  return image;
}

namespace {

// Mask pixels without a point: no depth, or depth outside the window.
void printPixelsWithoutDepth(std::ostream& out, const FrameResult& result,
                             const FrameOptions& options) {
  std::size_t pixels = 0;
  std::size_t points = 0;
  for (const auto& instance : result.detections.instances) {
    pixels += instance.pixels.size();
    points += instance.point_count;
  }
  const std::size_t without = pixels - points;
  out << without << " of " << pixels << " mask pixels had no depth in the window ("
      << options.min_depth << " to " << options.max_depth << " raw units of " << options.depth_scale
      << " m)\n";
  if (without * 2 > pixels) {
    out << "hint: most mask pixels had no depth in the window; check --depth-scale, "
           "--min-depth and --max-depth against the depth image's units\n";
  }
}

}  // namespace

void printSummary(std::ostream& out, const FrameResult& result, const FrameOptions& options) {
  const auto rows = summarise(result);
  out << "points in the " << frameName(result.frame) << " frame\n";
  out << std::left << std::setw(7) << "class" << std::right << std::setw(10) << "instances"
      << std::setw(10) << "points" << std::setw(12) << "x [m]" << std::setw(12) << "y [m]"
      << std::setw(12) << "z [m]"
      << "\n";
  const auto flags = out.flags();
  const auto precision = out.precision();
  for (const auto& row : rows) {
    out << std::left << std::setw(7) << row.cls << std::right << std::setw(10) << row.instances
        << std::setw(10) << row.points << std::fixed << std::setprecision(4);
    for (double c : row.centroid) {
      out << std::setw(12) << c;
    }
    out << "\n";
    out.flags(flags);
    out.precision(precision);
  }
  printPixelsWithoutDepth(out, result, options);
}

OutputFiles writeOutputs(const std::string& dir, const FrameInputs& inputs,
                         const FrameResult& result, const rclcpp::Logger& /*logger*/,
                         const OutputOptions& options) {
  // The small files are rendered in memory first, so most failures happen before any file
  // exists; points.json, the largest, is written as it is made.
  const std::string ply = plyFile(result, options.ply);
  const auto& organized_cloud = result.detections.organized_cloud;
  const std::string pcd = pcdBinary(result.detections.labelled_cloud);
  const std::string organized = organized_cloud ? pcdBinary(*organized_cloud) : "";
  const std::string png = pngBytes(overlayImage(inputs.depth, result));

  createOutputFolder(dir);
  StagedOutputs staged(dir);
  staged.writeWith("points.json", [&](std::ostream& out) { writePointsJson(out, result); });
  std::vector<std::string> names = {"points.json", "points.ply", "points.pcd", "overlay.png"};
  std::vector<std::string> retired;
  staged.write("points.ply", ply);
  staged.write("points.pcd", pcd);
  staged.write("overlay.png", png);
  if (organized_cloud) {
    staged.write("organized.pcd", organized);
    names.push_back("organized.pcd");
  } else {
    retired.push_back("organized.pcd");  // an earlier run's; it would not match this set
  }
  staged.commit(names, retired);
  const auto pathOf = [&](const char* name) { return (fs::path(dir) / name).string(); };
  return {pathOf("points.json"), pathOf("points.ply"), pathOf("overlay.png"), pathOf("points.pcd"),
          organized_cloud ? pathOf("organized.pcd") : ""};
}

}  // namespace vantorel_tools
