// Pixel projection at frame scale, next to the references it is judged against: a plain
// copy of the bytes it moves, the formula written as a straightforward loop, and the peer
// libraries a user would otherwise reach for (when they are installed).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/imgproc.hpp>

#include "vantorel_base_utils/vantorel_base_utils.hpp"

#ifdef VANTOREL_BENCH_WITH_OPENCV_RGBD
#include <opencv2/rgbd.hpp>
#endif
#ifdef VANTOREL_BENCH_WITH_OPEN3D
#include <open3d/camera/PinholeCameraIntrinsic.h>
#include <open3d/geometry/Image.h>
#include <open3d/geometry/PointCloud.h>
#endif

namespace vbu = vantorel_base_utils;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

constexpr int kCols = 1280;
constexpr int kRows = 720;
constexpr double kFx = 640.0;
constexpr double kFy = 642.0;
constexpr double kCx = 639.5;
constexpr double kCy = 359.5;
// Bytes the list projection moves per pixel: pixel (8) and depth (2) in, point (12) out.
constexpr std::int64_t kBytesPerPixel = 22;

// A table-top scene in millimetres: a tilted floor plane with a few boxes on it, sensor
// noise, and clustered holes (depth 0) where the sensor saw nothing.
cv::Mat realisticDepth() {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 4.0);
  cv::Mat depth(kRows, kCols, CV_16UC1);
  for (int v = 0; v < kRows; ++v) {
    for (int u = 0; u < kCols; ++u) {
      double mm = 2600.0 - 1.9 * v + 0.15 * u + noise(rng);
      if ((u / 160 + v / 120) % 3 == 0 && u % 160 > 30 && v % 120 > 25) {
        mm -= 350.0;  // boxes standing on the floor
      }
      depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(std::max(mm, 300.0));
    }
  }
  std::uniform_int_distribution<int> col(0, kCols - 1);
  std::uniform_int_distribution<int> row(0, kRows - 1);
  for (int hole = 0; hole < 400; ++hole) {
    cv::circle(depth, cv::Point(col(rng), row(rng)), 4 + hole % 9, cv::Scalar(0), cv::FILLED);
  }
  return depth;
}

Eigen::Matrix4d cameraToArmBase() {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() =
      Eigen::AngleAxisd(-2.3, Eigen::Vector3d(1.0, 0.2, -0.1).normalized()).toRotationMatrix();
  m.col(3) << 0.12, -0.05, 0.61, 1.0;
  return m;
}

Eigen::Matrix4d armBaseToMap() {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(0.8, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  m.col(3) << 12.5, -3.25, 0.0, 1.0;
  return m;
}

const vbu::ProjectionContext& frameContext() {
  static const vbu::ProjectionContext ctx = [] {
    vbu::CameraModel model;
    model.fx = kFx;
    model.fy = kFy;
    model.cx = kCx;
    model.cy = kCy;
    return vbu::createProjectionContext(realisticDepth(), model, cameraToArmBase(), armBaseToMap(),
                                        1, 10000, rclcpp::get_logger("bench"));
  }();
  return ctx;
}

Pixels wholeFrame() {
  Pixels pixels;
  pixels.reserve(static_cast<std::size_t>(kCols) * kRows);
  for (int v = 0; v < kRows; ++v) {
    for (int u = 0; u < kCols; ++u) {
      pixels.push_back({u, v});
    }
  }
  return pixels;
}

Pixels randomPixels(std::size_t count) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> col(0, kCols - 1);
  std::uniform_int_distribution<int> row(0, kRows - 1);
  Pixels pixels(count);
  for (auto& pixel : pixels) {
    pixel = {col(rng), row(rng)};
  }
  return pixels;
}

// Twelve detected instances of varied size, each listed in row order as mask pixels are.
std::vector<Pixels> twelveInstances() {
  std::vector<Pixels> instances;
  for (int i = 0; i < 12; ++i) {
    const int left = 40 + 100 * i;
    const int top = 60 + 40 * (i % 4);
    const int width = 40 + 7 * i;
    const int height = 120 + 15 * (i % 5);
    Pixels pixels;
    for (int v = top; v < top + height; ++v) {
      for (int u = left; u < left + width; ++u) {
        pixels.push_back({u, v});
      }
    }
    instances.push_back(std::move(pixels));
  }
  return instances;
}

// The formula as a reader would first write it: one pixel at a time, push_back each point.
std::vector<vbu::ProjectedPoint> straightforwardProjection(const vbu::ProjectionContext& ctx,
                                                           const Pixels& pixels) {
  std::vector<vbu::ProjectedPoint> points;
  points.reserve(pixels.size());
  const Eigen::Matrix4d& t = ctx.camera_to_map;
  for (const auto& [u, v] : pixels) {
    if (u < 0 || u >= ctx.depth.cols || v < 0 || v >= ctx.depth.rows) {
      continue;
    }
    const int d = ctx.depth.ptr<std::uint16_t>(v)[u];
    if (d < ctx.min_depth || d > ctx.max_depth) {
      continue;
    }
    const double z = d * 0.001;
    const double x = (u - ctx.cx) * z / ctx.fx;
    const double y = (v - ctx.cy) * z / ctx.fy;
    const Eigen::Vector4d p = t * Eigen::Vector4d(x, y, z, 1.0);
    points.push_back(
        {static_cast<float>(p.x()), static_cast<float>(p.y()), static_cast<float>(p.z())});
  }
  return points;
}

void countPixels(benchmark::State& state, std::size_t pixels_per_iteration) {
  const auto pixels = static_cast<std::int64_t>(pixels_per_iteration);
  state.SetItemsProcessed(state.iterations() * pixels);
  state.SetBytesProcessed(state.iterations() * pixels * kBytesPerPixel);
}

void BM_ListFullFrameRowOrder(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = wholeFrame();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointsToMap(ctx, pixels));
  }
  countPixels(state, pixels.size());
}

// Reads the pixel list and the depth image and writes as many bytes as the projection
// writes, into a fresh buffer as the projection's result is.
void BM_CopyReferenceFullFrame(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = wholeFrame();
  const std::size_t n = pixels.size();
  for (auto _ : state) {
    std::unique_ptr<char[]> out(new char[12 * n]);
    std::memcpy(out.get(), pixels.data(), 8 * n);
    std::memcpy(out.get() + 8 * n, ctx.depth.data, 2 * n);
    std::memset(out.get() + 10 * n, 0, 2 * n);
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
  countPixels(state, n);
}

void BM_StraightforwardFullFrame(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = wholeFrame();
  for (auto _ : state) {
    benchmark::DoNotOptimize(straightforwardProjection(ctx, pixels));
  }
  countPixels(state, pixels.size());
}

void BM_ListRandom100k(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = randomPixels(100000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointsToMap(ctx, pixels));
  }
  countPixels(state, pixels.size());
}

void BM_StraightforwardRandom100k(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = randomPixels(100000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(straightforwardProjection(ctx, pixels));
  }
  countPixels(state, pixels.size());
}

void BM_Sets12Instances(benchmark::State& state) {
  const auto& ctx = frameContext();
  const std::vector<Pixels> instances = twelveInstances();
  std::size_t total = 0;
  for (const auto& pixels : instances) {
    total += pixels.size();
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointSetsToMap(ctx, instances));
  }
  countPixels(state, total);
}

// One instance's pixel list as JSON in, projected points JSON out.
void BM_JsonOneInstance(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels pixels = twelveInstances().at(5);
  nlohmann::json points = nlohmann::json::array();
  for (const auto& [u, v] : pixels) {
    points.push_back({u, v});
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointsJsonToMap(ctx, points));
  }
  countPixels(state, pixels.size());
}

BENCHMARK(BM_ListFullFrameRowOrder)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyReferenceFullFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StraightforwardFullFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListRandom100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StraightforwardRandom100k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sets12Instances)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JsonOneInstance)->Unit(benchmark::kMicrosecond);

#ifdef VANTOREL_BENCH_WITH_OPENCV_RGBD
// The whole frame to camera-frame points, then into the map frame.
void BM_OpenCvDepthTo3dAndTransform(benchmark::State& state) {
  const auto& ctx = frameContext();
  const cv::Matx33d k(kFx, 0, kCx, 0, kFy, kCy, 0, 0, 1);
  cv::Matx34d camera_to_map;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      camera_to_map(r, c) = ctx.camera_to_map(r, c);
    }
  }
  for (auto _ : state) {
    cv::Mat camera_points;
    cv::Mat map_points;
    cv::rgbd::depthTo3d(ctx.depth, cv::Mat(k), camera_points);
    cv::transform(camera_points, map_points, camera_to_map);
    benchmark::DoNotOptimize(map_points.data);
  }
  countPixels(state, ctx.depth.total());
}
BENCHMARK(BM_OpenCvDepthTo3dAndTransform)->Unit(benchmark::kMicrosecond);
#endif

#ifdef VANTOREL_BENCH_WITH_OPEN3D
// Open3D takes the map-to-camera transform as its extrinsic.
void BM_Open3dCreateFromDepthImage(benchmark::State& state) {
  const auto& ctx = frameContext();
  open3d::geometry::Image depth;
  depth.Prepare(kCols, kRows, 1, 2);
  std::memcpy(depth.data_.data(), ctx.depth.data, depth.data_.size());
  const open3d::camera::PinholeCameraIntrinsic intrinsic(kCols, kRows, kFx, kFy, kCx, kCy);
  const Eigen::Matrix4d extrinsic = ctx.camera_to_map.inverse();
  for (auto _ : state) {
    auto cloud =
        open3d::geometry::PointCloud::CreateFromDepthImage(depth, intrinsic, extrinsic, 1000.0);
    benchmark::DoNotOptimize(cloud->points_.data());
  }
  countPixels(state, ctx.depth.total());
}
BENCHMARK(BM_Open3dCreateFromDepthImage)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
