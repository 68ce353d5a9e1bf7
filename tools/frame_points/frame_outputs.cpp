#include "frame_outputs.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "vantorel_base_utils/json_utils.hpp"

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

cv::Mat falseColourDepth(const cv::Mat& depth) {
  const cv::Mat valid = depth > 0;
  double lo = 0.0;
  double hi = 1.0;
  cv::minMaxLoc(depth, &lo, &hi, nullptr, nullptr, valid);
  cv::Mat scaled;
  depth.convertTo(scaled, CV_8U, 255.0 / std::max(hi - lo, 1.0),
                  -lo * 255.0 / std::max(hi - lo, 1.0));
  cv::Mat coloured;
  cv::applyColorMap(scaled, coloured, cv::COLORMAP_TURBO);
  coloured.setTo(cv::Scalar(0, 0, 0), ~valid);
  return coloured;
}

void drawInstance(cv::Mat& image, const InstancePoints& instance) {
  const cv::Vec3b colour = classColour(instance.cls);
  for (const auto& [u, v] : instance.pixels) {
    if (u >= 0 && v >= 0 && u < image.cols && v < image.rows) {
      cv::Vec3b& px = image.at<cv::Vec3b>(v, u);
      for (int c = 0; c < 3; ++c) {
        px[c] = static_cast<uchar>((px[c] + colour[c]) / 2);
      }
    }
  }
  const cv::Scalar line(colour[0], colour[1], colour[2]);
  const cv::Point top_left(static_cast<int>(instance.box[0]), static_cast<int>(instance.box[1]));
  const cv::Point bottom_right(static_cast<int>(instance.box[2]),
                               static_cast<int>(instance.box[3]));
  cv::rectangle(image, top_left, bottom_right, line, 2);
  std::ostringstream label;
  label << "cls " << instance.cls << " #" << instance.detection_index << " " << std::fixed
        << std::setprecision(2) << instance.conf;
  cv::putText(image, label.str(), top_left + cv::Point(0, -4), cv::FONT_HERSHEY_SIMPLEX, 0.45,
              cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    throw std::runtime_error(path + ": write failed");
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
  for (const auto& instance : result.instances) {
    json points = json::array();
    for (const auto& p : instance.points) {
      points.push_back({p[0], p[1], p[2]});
    }
    const auto centroid = centroidOf(instance.points);
    classes[std::to_string(instance.cls)]["instances"].push_back(
        {{"detection_index", instance.detection_index},
         {"confidence", instance.conf},
         {"bbox_xyxy", instance.box},
         {"centroid", instance.points.empty() ? json(nullptr) : json(centroid)},
         {"points", points}});
  }
  return {{"frame", frameName(result.frame)}, {"classes", classes}};
}

std::string plyText(const FrameResult& result) {
  std::size_t count = 0;
  for (const auto& instance : result.instances) {
    count += instance.points.size();
  }
  std::ostringstream ply;
  ply << "ply\nformat ascii 1.0\ncomment frame " << frameName(result.frame) << "\nelement vertex "
      << count
      << "\nproperty float x\nproperty float y\nproperty float z\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
  ply << std::setprecision(9);
  for (const auto& instance : result.instances) {
    const cv::Vec3b bgr = classColour(instance.cls);
    for (const auto& p : instance.points) {
      ply << p[0] << ' ' << p[1] << ' ' << p[2] << ' ' << int{bgr[2]} << ' ' << int{bgr[1]} << ' '
          << int{bgr[0]} << '\n';
    }
  }
  return ply.str();
}

cv::Mat overlayImage(const cv::Mat& depth, const FrameResult& result) {
  cv::Mat image = falseColourDepth(depth);
  for (const auto& instance : result.instances) {
    drawInstance(image, instance);
  }
  return image;
}

void printSummary(std::ostream& out, const FrameResult& result) {
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
}

OutputFiles writeOutputs(const std::string& dir, const FrameInputs& inputs,
                         const FrameResult& result, const rclcpp::Logger& logger) {
  // Everything is rendered in memory first, so most failures happen before any file exists.
  const json points = pointsDocument(result);
  const std::string ply = plyText(result);
  const std::string png = pngBytes(overlayImage(inputs.depth, result));

  fs::create_directories(dir);
  const OutputFiles final_paths{(fs::path(dir) / "points.json").string(),
                                (fs::path(dir) / "points.ply").string(),
                                (fs::path(dir) / "overlay.png").string()};
  const OutputFiles temp_paths{final_paths.points_json + ".partial",
                               final_paths.point_cloud_ply + ".partial",
                               final_paths.overlay_png + ".partial"};
  auto remove_temps = [&] {
    std::error_code ignored;
    fs::remove(temp_paths.points_json, ignored);
    fs::remove(temp_paths.point_cloud_ply, ignored);
    fs::remove(temp_paths.overlay_png, ignored);
  };
  try {
    vantorel_base_utils::saveJson(points, temp_paths.points_json, 1, logger);
    if (!fs::exists(temp_paths.points_json)) {
      throw std::runtime_error(final_paths.points_json + ": write failed");
    }
    writeBytes(temp_paths.point_cloud_ply, ply);
    writeBytes(temp_paths.overlay_png, png);
    fs::rename(temp_paths.points_json, final_paths.points_json);
    fs::rename(temp_paths.point_cloud_ply, final_paths.point_cloud_ply);
    fs::rename(temp_paths.overlay_png, final_paths.overlay_png);
  } catch (...) {
    remove_temps();
    throw;
  }
  return final_paths;
}

}  // namespace vantorel_tools
