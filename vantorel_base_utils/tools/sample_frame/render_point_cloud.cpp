// SPDX-License-Identifier: Apache-2.0
// Renders a PLY point cloud (ASCII or binary) written by vantorel_frame_points to a PNG, seen
// obliquely from above with a 10 cm grid on the z = 0 plane, for the documentation.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

struct ColouredPoint {
  Eigen::Vector3d position;
  cv::Scalar bgr;
};

// One vertex as vantorel_frame_points writes it: float x, y, z, uchar red, green, blue.
bool readVertex(std::istream& in, bool binary, ColouredPoint& point) {
  if (!binary) {
    double x = 0, y = 0, z = 0;
    int r = 0, g = 0, b = 0;
    in >> x >> y >> z >> r >> g >> b;
    point = {{x, y, z}, cv::Scalar(b, g, r)};
    return static_cast<bool>(in);
  }
  unsigned char bytes[15];
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
    return false;
  }
  float xyz[3];
  for (int axis = 0; axis < 3; ++axis) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
      bits = (bits << 8) | bytes[4 * axis + i];  // little-endian
    }
    std::memcpy(&xyz[axis], &bits, sizeof bits);
  }
  point = {{xyz[0], xyz[1], xyz[2]}, cv::Scalar(bytes[14], bytes[13], bytes[12])};
  return true;
}

std::vector<ColouredPoint> readPly(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::size_t count = 0;
  bool binary = false;
  while (std::getline(in, line) && line != "end_header") {
    std::istringstream words(line);
    std::string a, b;
    words >> a >> b;
    if (a == "element" && b == "vertex") {
      words >> count;
    }
    binary = binary || (a == "format" && b == "binary_little_endian");
  }
  std::vector<ColouredPoint> points(count);
  for (auto& point : points) {
    if (!readVertex(in, binary, point)) {
      throw std::runtime_error(path + ": truncated vertex list");
    }
  }
  return points;
}

// A pinhole view looking at `target` from `eye`, z up.
struct View {
  Eigen::Matrix3d world_to_camera;
  Eigen::Vector3d eye;
  double focal;
  cv::Point2d centre;

  bool project(const Eigen::Vector3d& p, cv::Point2d& pixel, double& depth) const {
    const Eigen::Vector3d c = world_to_camera * (p - eye);
    depth = c.z();
    if (depth <= 1e-6) {
      return false;
    }
    pixel = {centre.x + focal * c.x() / c.z(), centre.y + focal * c.y() / c.z()};
    return true;
  }
};

View lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target, cv::Size size) {
  const Eigen::Vector3d forward = (target - eye).normalized();
  const Eigen::Vector3d right = forward.cross(Eigen::Vector3d::UnitZ()).normalized();
  const Eigen::Vector3d down = forward.cross(right);
  Eigen::Matrix3d rows;
  rows.row(0) = right;
  rows.row(1) = down;
  rows.row(2) = forward;
  return {rows, eye, 0.9 * size.width, {size.width / 2.0, size.height / 2.0}};
}

void drawGrid(cv::Mat& image, const View& view, const Eigen::Vector3d& centre) {
  const double half = 0.8;
  for (double d = -half; d <= half + 1e-9; d += 0.1) {
    const std::array<std::pair<Eigen::Vector3d, Eigen::Vector3d>, 2> lines = {
        std::pair{Eigen::Vector3d(centre.x() + d, centre.y() - half, 0),
                  Eigen::Vector3d(centre.x() + d, centre.y() + half, 0)},
        std::pair{Eigen::Vector3d(centre.x() - half, centre.y() + d, 0),
                  Eigen::Vector3d(centre.x() + half, centre.y() + d, 0)}};
    for (const auto& [a, b] : lines) {
      cv::Point2d pa, pb;
      double da = 0, db = 0;
      if (view.project(a, pa, da) && view.project(b, pb, db)) {
        cv::line(image, pa, pb, cv::Scalar(70, 70, 70), 1, cv::LINE_AA);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " POINTS.ply OUTPUT.png\n";
    return 2;
  }
  try {
    auto points = readPly(argv[1]);
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (const auto& p : points) {
      centre += p.position;
    }
    centre /= std::max<double>(1.0, static_cast<double>(points.size()));
    centre.z() = 0.0;
    const cv::Size size(800, 600);
    const View view = lookAt(centre + Eigen::Vector3d(-0.9, -1.1, 0.9), centre, size);
    cv::Mat image(size, CV_8UC3, cv::Scalar(25, 25, 25));
    drawGrid(image, view, centre);
    // Far points first, so near ones are drawn over them.
    std::vector<std::pair<double, std::size_t>> order;
    for (std::size_t i = 0; i < points.size(); ++i) {
      order.emplace_back((points[i].position - view.eye).norm(), i);
    }
    std::sort(order.rbegin(), order.rend());
    for (const auto& [distance, i] : order) {
      cv::Point2d pixel;
      double depth = 0;
      if (view.project(points[i].position, pixel, depth)) {
        cv::circle(image, pixel, 1, points[i].bgr, cv::FILLED);
      }
    }
    if (!cv::imwrite(argv[2], image)) {
      throw std::runtime_error(std::string(argv[2]) + ": cannot write");
    }
  } catch (const std::exception& e) {
    std::cerr << "render_point_cloud: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
