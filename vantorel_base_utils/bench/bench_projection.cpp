// SPDX-License-Identifier: Apache-2.0
// Pixel projection at frame scale, next to the references it is judged against: a plain
// copy of the bytes it moves, the formula written as a straightforward loop, and the peer
// libraries a user would otherwise reach for (when they are installed).
//
// Every peer runs in its best configuration for the threads of its row (OpenCV with its
// thread count set, output matrices kept from frame to frame as its API intends; Open3D with
// its OpenMP thread count set), and its points are checked against ours before it is timed.
// Times are wall-clock. Unless told otherwise, the program runs every benchmark ten times
// with the repetitions of all benchmarks interleaved at random, and reports the median,
// fastest and slowest repetition of each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/imgproc.hpp>

#include "geometry/projection_kernel.hpp"
#include "vantorel_base_utils/vantorel_base_utils.hpp"

#ifdef VANTOREL_BENCH_WITH_OPENCV_RGBD
#include <opencv2/rgbd.hpp>
#endif
#ifdef VANTOREL_BENCH_WITH_OPEN3D
#include <omp.h>

#include <open3d/camera/PinholeCameraIntrinsic.h>
#include <open3d/geometry/Image.h>
#include <open3d/geometry/PointCloud.h>
#include <open3d/utility/CPUInfo.h>
#endif

namespace vbu = vantorel_base_utils;
namespace kernel = vbu::projection_kernel;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

constexpr int kCols = 1280;
constexpr int kRows = 720;
constexpr double kFx = 640.0;
constexpr double kFy = 642.0;
constexpr double kCx = 639.5;
constexpr double kCy = 359.5;
constexpr int kMinDepth = 1;  // millimetres
constexpr int kMaxDepth = 10000;
// Bytes the list projection moves per pixel: pixel (8) and depth (2) in, point (12) out.
constexpr std::int64_t kBytesPerPixel = 22;
// How far a peer's point may be from ours, per coordinate: peers compute in float or round
// differently, on coordinates of up to 16 m (float steps there are 2 micrometres).
constexpr double kToleranceMetres = 1e-4;

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

// The same scene as a 32FC1 driver publishes it: metres, NaN where there is no depth.
cv::Mat realisticMetres() {
  const cv::Mat millimetres = realisticDepth();
  cv::Mat metres;
  millimetres.convertTo(metres, CV_32F, 0.001);
  metres.setTo(std::numeric_limits<float>::quiet_NaN(), millimetres == 0);
  return metres;
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

vbu::CameraModel cameraModel() {
  vbu::CameraModel model;
  model.fx = kFx;
  model.fy = kFy;
  model.cx = kCx;
  model.cy = kCy;
  return model;
}

const vbu::ProjectionContext& frameContext() {
  static const vbu::ProjectionContext ctx = vbu::createProjectionContext(
      realisticDepth(), cameraModel(), cameraToArmBase(), armBaseToMap(), kMinDepth, kMaxDepth,
      rclcpp::get_logger("bench"));
  return ctx;
}

// The window in millimetres, as for the 16-bit frame.
const vbu::ProjectionContext& metricContext() {
  static const vbu::ProjectionContext ctx = [] {
    vbu::DepthOptions options;
    options.min_depth = kMinDepth;
    options.max_depth = kMaxDepth;
    return vbu::createProjectionContext(realisticMetres(), cameraModel(),
                                        Eigen::Isometry3d(cameraToArmBase()),
                                        Eigen::Isometry3d(armBaseToMap()), options);
  }();
  return ctx;
}

const Pixels& wholeFrame() {
  static const Pixels pixels = [] {
    Pixels all;
    all.reserve(static_cast<std::size_t>(kCols) * kRows);
    for (int v = 0; v < kRows; ++v) {
      for (int u = 0; u < kCols; ++u) {
        all.push_back({u, v});
      }
    }
    return all;
  }();
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
  state.counters["threads"] = 1;
}

// Our points against a peer's, in order; the peer's come as `next(x, y, z)` calls that
// return false when it has no more. Skips the benchmark unless all agree within tolerance,
// and reports the largest difference (micrometres).
template <typename PeerPoints>
bool samePointsAsOurs(benchmark::State& state, const std::vector<vbu::ProjectedPoint>& ours,
                      PeerPoints next) {
  std::size_t count = 0;
  double largest = 0.0;
  double x;
  double y;
  double z;
  while (next(x, y, z)) {
    if (count < ours.size()) {
      const auto& p = ours[count];
      largest = std::max({largest, std::fabs(x - p.x), std::fabs(y - p.y), std::fabs(z - p.z)});
    }
    ++count;
  }
  state.counters["max_diff_um"] = largest * 1e6;
  if (count != ours.size() || !(largest <= kToleranceMetres)) {
    state.SkipWithError(("points differ from ours: " + std::to_string(count) + " against " +
                         std::to_string(ours.size()) + ", largest difference " +
                         std::to_string(largest) + " m")
                            .c_str());
    return false;
  }
  return true;
}

void BM_ListFullFrameRowOrder(benchmark::State& state) {
  const auto& ctx = frameContext();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointsToMap(ctx, wholeFrame()));
  }
  countPixels(state, wholeFrame().size());
}

// The whole frame through one of the kernel's projectors, streamed from the given result
// size on.
template <typename Sample>
void projectWholeFrame(benchmark::State& state, const kernel::DepthView<Sample>& view,
                       double metres_per_sample, const kernel::Projector<Sample>& projector,
                       std::size_t streaming_threshold) {
  const auto& ctx = std::is_same_v<Sample, float> ? metricContext() : frameContext();
  const auto lift =
      kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, metres_per_sample, ctx.camera_to_map);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kernel::projectPixels(view, lift, wholeFrame(), projector, streaming_threshold));
  }
  countPixels(state, wholeFrame().size());
}

kernel::DepthView<std::uint16_t> millimetreView() {
  const auto& ctx = frameContext();
  return kernel::depthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth);
}

kernel::DepthView<float> metreView() {
  const auto& ctx = metricContext();
  return kernel::metricDepthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth, ctx.depth_scale);
}

// The loop CPUs without AVX-512 run, measured here on any CPU.
void BM_ListFullFramePortableLoop(benchmark::State& state) {
  projectWholeFrame(state, millimetreView(), 0.001, kernel::portableProjector<std::uint16_t>(),
                    kernel::streamingThresholdBytes());
}

// The whole frame written with non-temporal stores, which the library keeps for results
// larger than the last-level cache (a full frame's 11 MB is not, here).
void BM_ListFullFrameStreamed(benchmark::State& state) {
  projectWholeFrame(state, millimetreView(), 0.001, kernel::projectorFor(millimetreView()), 0);
}

// Reads the pixel list and the depth image and writes as many bytes as the projection
// writes, into a fresh buffer as the projection's result is.
void BM_CopyReferenceFullFrame(benchmark::State& state) {
  const auto& ctx = frameContext();
  const Pixels& pixels = wholeFrame();
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
  for (auto _ : state) {
    benchmark::DoNotOptimize(straightforwardProjection(ctx, wholeFrame()));
  }
  countPixels(state, wholeFrame().size());
}

// A 32FC1 frame in metres, NaN for holes, the same window.
void BM_ListFullFrameFloatMetres(benchmark::State& state) {
  const auto& ctx = metricContext();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::projectImagePointsToMap(ctx, wholeFrame()));
  }
  countPixels(state, wholeFrame().size());
}

void BM_ListFullFrameFloatMetresPortableLoop(benchmark::State& state) {
  projectWholeFrame(state, metreView(), 1.0, kernel::portableProjector<float>(),
                    kernel::streamingThresholdBytes());
}

// The organised cloud of a whole frame: every pixel written, NaN where there is no depth,
// into a fresh message, as a node publishing one per frame makes it.
void organizedCloud(benchmark::State& state, const vbu::ProjectionContext& ctx) {
  std_msgs::msg::Header header;
  header.frame_id = "map";
  for (auto _ : state) {
    benchmark::DoNotOptimize(vbu::organizedPointCloud2(ctx, vbu::CloudFrame::Map, header));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ctx.depth.total()));
  state.counters["threads"] = 1;
}

void BM_OrganizedCloudFullFrame(benchmark::State& state) {
  organizedCloud(state, frameContext());
}

void BM_OrganizedCloudFullFrameFloatMetres(benchmark::State& state) {
  organizedCloud(state, metricContext());
}

// A 640x480 frame: the middle of the scene above, seen by the same camera.
void BM_OrganizedCloudVga(benchmark::State& state) {
  static const vbu::ProjectionContext vga = [] {
    vbu::CameraModel model = cameraModel();
    model.cx -= 320;
    model.cy -= 120;
    return vbu::createProjectionContext(realisticDepth()(cv::Rect(320, 120, 640, 480)), model,
                                        cameraToArmBase(), armBaseToMap(), kMinDepth, kMaxDepth,
                                        rclcpp::get_logger("bench"));
  }();
  organizedCloud(state, vga);
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

#ifdef VANTOREL_BENCH_WITH_OPENCV_RGBD
// The whole frame to camera-frame points, then into the map frame: cv::rgbd::depthTo3d
// (16-bit millimetres or float metres in; float points out, NaN where there is no depth)
// and cv::transform with the 3x4 camera-to-map matrix. The output matrices live across
// frames: OpenCV reuses them, where new ones would fault in fresh pages every frame.
void openCvDepthTo3dAndTransform(benchmark::State& state, const vbu::ProjectionContext& ctx,
                                 int threads) {
  const int previous_threads = cv::getNumThreads();
  cv::setNumThreads(threads);
  const cv::Matx33d k(kFx, 0, kCx, 0, kFy, kCy, 0, 0, 1);
  cv::Matx34d camera_to_map;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      camera_to_map(r, c) = ctx.camera_to_map(r, c);
    }
  }
  cv::Mat camera_points;
  cv::Mat map_points;
  const auto project = [&] {
    cv::rgbd::depthTo3d(ctx.depth, k, camera_points);
    cv::transform(camera_points, map_points, camera_to_map);
  };
  project();
  const auto ours = vbu::projectImagePointsToMap(ctx, wholeFrame());
  const auto* point = map_points.ptr<cv::Vec3f>(0);
  const auto* end = point + map_points.total();
  const bool same = samePointsAsOurs(state, ours, [&](double& x, double& y, double& z) {
    while (point != end && std::isnan((*point)[2])) {
      ++point;
    }
    if (point == end) {
      return false;
    }
    x = (*point)[0];
    y = (*point)[1];
    z = (*point)[2];
    ++point;
    return true;
  });
  if (same) {
    for (auto _ : state) {
      project();
      benchmark::DoNotOptimize(map_points.data);
      benchmark::ClobberMemory();
    }
  }
  countPixels(state, ctx.depth.total());
  state.counters["threads"] = cv::getNumThreads();
  cv::setNumThreads(previous_threads);
}

void BM_OpenCvDepthTo3dAndTransform_OneThread(benchmark::State& state) {
  openCvDepthTo3dAndTransform(state, frameContext(), 1);
}

// OpenCV's own default: as many threads as the machine has (these two calls run on one).
void BM_OpenCvDepthTo3dAndTransform_DefaultThreads(benchmark::State& state) {
  openCvDepthTo3dAndTransform(state, frameContext(), -1);
}

void BM_OpenCvDepthTo3dAndTransformFloatMetres_OneThread(benchmark::State& state) {
  openCvDepthTo3dAndTransform(state, metricContext(), 1);
}
#endif

#ifdef VANTOREL_BENCH_WITH_OPEN3D
// Open3D reads its thread count from OpenMP only when OMP_NUM_THREADS is set; main sets it
// to Open3D's default (one thread per physical core) when the caller did not.
int open3dDefaultThreads() {
  return open3d::utility::CPUInfo::GetInstance().NumCores();
}

// The whole frame in one call, with the map-to-camera transform as extrinsic. Open3D keeps
// pixels with depth above 0 and up to depth_trunc metres, and writes double points.
void open3dCreateFromDepthImage(benchmark::State& state, const vbu::ProjectionContext& ctx,
                                int threads) {
  const bool metres = ctx.depth.type() == CV_32FC1;
  open3d::geometry::Image depth;
  depth.Prepare(kCols, kRows, 1, metres ? 4 : 2);
  std::memcpy(depth.data_.data(), ctx.depth.data, depth.data_.size());
  const open3d::camera::PinholeCameraIntrinsic intrinsic(kCols, kRows, kFx, kFy, kCx, kCy);
  const Eigen::Matrix4d extrinsic = ctx.camera_to_map.inverse();
  const double depth_scale = metres ? 1.0 : 1000.0;
  const double depth_trunc = kMaxDepth / 1000.0;
  omp_set_num_threads(threads);
  const auto project = [&] {
    return open3d::geometry::PointCloud::CreateFromDepthImage(depth, intrinsic, extrinsic,
                                                              depth_scale, depth_trunc);
  };
  const auto cloud = project();
  const auto ours = vbu::projectImagePointsToMap(ctx, wholeFrame());
  std::size_t next = 0;
  const bool same = samePointsAsOurs(state, ours, [&](double& x, double& y, double& z) {
    if (next == cloud->points_.size()) {
      return false;
    }
    x = cloud->points_[next].x();
    y = cloud->points_[next].y();
    z = cloud->points_[next].z();
    ++next;
    return true;
  });
  if (same) {
    for (auto _ : state) {
      benchmark::DoNotOptimize(project()->points_.data());
    }
  }
  countPixels(state, ctx.depth.total());
  state.counters["threads"] = omp_get_max_threads();
  omp_set_num_threads(open3dDefaultThreads());
}

void BM_Open3dCreateFromDepthImage_OneThread(benchmark::State& state) {
  open3dCreateFromDepthImage(state, frameContext(), 1);
}

// Open3D's own default: its depth conversion runs on one thread per physical core.
void BM_Open3dCreateFromDepthImage_DefaultThreads(benchmark::State& state) {
  open3dCreateFromDepthImage(state, frameContext(), open3dDefaultThreads());
}

void BM_Open3dCreateFromDepthImageFloatMetres_OneThread(benchmark::State& state) {
  open3dCreateFromDepthImage(state, metricContext(), 1);
}
#endif

double fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

double slowest(const std::vector<double>& v) {
  return *std::max_element(v.begin(), v.end());
}

void wallClock(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)
      ->UseRealTime()
      ->ComputeStatistics("min", fastest)
      ->ComputeStatistics("max", slowest);
}

BENCHMARK(BM_ListFullFrameRowOrder)->Apply(wallClock);
BENCHMARK(BM_ListFullFramePortableLoop)->Apply(wallClock);
BENCHMARK(BM_ListFullFrameStreamed)->Apply(wallClock);
BENCHMARK(BM_CopyReferenceFullFrame)->Apply(wallClock);
BENCHMARK(BM_StraightforwardFullFrame)->Apply(wallClock);
BENCHMARK(BM_ListFullFrameFloatMetres)->Apply(wallClock);
BENCHMARK(BM_ListFullFrameFloatMetresPortableLoop)->Apply(wallClock);
BENCHMARK(BM_OrganizedCloudFullFrame)->Apply(wallClock);
BENCHMARK(BM_OrganizedCloudFullFrameFloatMetres)->Apply(wallClock);
BENCHMARK(BM_OrganizedCloudVga)->Apply(wallClock);
BENCHMARK(BM_ListRandom100k)->Apply(wallClock);
BENCHMARK(BM_StraightforwardRandom100k)->Apply(wallClock);
BENCHMARK(BM_Sets12Instances)->Apply(wallClock);
BENCHMARK(BM_JsonOneInstance)->Apply(wallClock);
#ifdef VANTOREL_BENCH_WITH_OPENCV_RGBD
BENCHMARK(BM_OpenCvDepthTo3dAndTransform_OneThread)->Apply(wallClock);
BENCHMARK(BM_OpenCvDepthTo3dAndTransform_DefaultThreads)->Apply(wallClock);
BENCHMARK(BM_OpenCvDepthTo3dAndTransformFloatMetres_OneThread)->Apply(wallClock);
#endif
#ifdef VANTOREL_BENCH_WITH_OPEN3D
BENCHMARK(BM_Open3dCreateFromDepthImage_OneThread)->Apply(wallClock);
BENCHMARK(BM_Open3dCreateFromDepthImage_DefaultThreads)->Apply(wallClock);
BENCHMARK(BM_Open3dCreateFromDepthImageFloatMetres_OneThread)->Apply(wallClock);
#endif

}  // namespace

// The defaults come first, so flags given on the command line override them.
int main(int argc, char** argv) {
#ifdef VANTOREL_BENCH_WITH_OPEN3D
  if (std::getenv("OMP_NUM_THREADS") == nullptr) {
    setenv("OMP_NUM_THREADS", std::to_string(open3dDefaultThreads()).c_str(), 1);
  }
#endif
  std::vector<char*> args = {argv[0]};
  std::string defaults[] = {"--benchmark_repetitions=10", "--benchmark_min_time=0.2",
                            "--benchmark_enable_random_interleaving=true",
                            "--benchmark_report_aggregates_only=true"};
  for (auto& flag : defaults) {
    args.push_back(flag.data());
  }
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
