// SPDX-License-Identifier: Apache-2.0
// The projectors side by side on the same pixel lists: the AVX-512 ones, which CPUs that
// have it run, and the streamed ones, which large results take, must keep exactly the pixels
// the portable in-place loop keeps, in the same order, at the same points up to the last bit
// of a float, and write nothing outside the result.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include "geometry/projection_kernel.hpp"
#include "geometry/projection_kernel_avx512.hpp"

namespace kernel = vantorel_base_utils::projection_kernel;
using Pixels = std::vector<std::array<int, 2>>;
using vantorel_base_utils::ProjectedPoint;

namespace {

constexpr int kCols = 301;
constexpr int kRows = 203;

bool sameUpToOneStep(float a, float b) {
  return a == b || std::nextafter(a, b) == b;
}

// The kinds of list the AVX-512 projector treats differently: runs along a row (one plain
// load), runs that end on the image's last pixel (the paired read at the end), runs broken by
// a row change, scattered pixels partly off the image (the gather), and a whole image in row
// order with a few pixels off it (many lines of streamed output).
std::vector<Pixels> lists(std::mt19937& rng) {
  std::uniform_int_distribution<int> u(-3, kCols + 2);
  std::uniform_int_distribution<int> v(-3, kRows + 2);
  std::vector<Pixels> result;
  for (const int count : {1, 7, 15, 16, 17, 31, 48, 100, 127, 128, 129, 700}) {
    Pixels run;
    Pixels run_to_end;
    Pixels across_rows;
    Pixels scattered;
    for (int i = 0; i < count; ++i) {
      run.push_back({(5 + i) % kCols, 9 + (5 + i) / kCols});
      const int back = count - 1 - i;
      run_to_end.push_back({kCols - 1 - back % kCols, kRows - 1 - back / kCols});
      across_rows.push_back({kCols - 8 + i % 16, 40 + i / 8});
      scattered.push_back({u(rng), v(rng)});
    }
    scattered.back() = {kCols - 1, kRows - 1};
    result.insert(result.end(), {run, run_to_end, across_rows, scattered});
  }
  Pixels whole;
  for (int row = 0; row < kRows; ++row) {
    for (int col = 0; col < kCols; ++col) {
      whole.push_back(col % 97 == 13 ? std::array<int, 2>{-col, row}
                                     : std::array<int, 2>{col, row});
    }
  }
  result.push_back(whole);
  return result;
}

// A view into padded rows of random depths: 16-bit values with holes and a window that drops
// some; float metres with NaN, infinities, zeros, negative and denormal values among them.
struct Frame {
  cv::Mat storage;
  cv::Mat depth;
};

Frame frame(int type, std::mt19937& rng) {
  Frame f;
  f.storage = cv::Mat(kRows + 2, kCols + 5, type);
  if (type == CV_16UC1) {
    cv::randu(f.storage, 0, 20000);
  } else {
    cv::randu(f.storage, -1.0, 25.0);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         0.0f,
                         -0.0f,
                         std::numeric_limits<float>::denorm_min(),
                         20.0f};
    std::uniform_int_distribution<int> pick(0, 6);
    for (int i = 0; i < 3000; ++i) {
      f.storage.at<float>(i * 7 % f.storage.rows, i * 13 % f.storage.cols) = odd[pick(rng)];
    }
  }
  f.depth = f.storage(cv::Rect(3, 1, kCols, kRows));
  return f;
}

kernel::Lift lift(double metres_per_sample) {
  Eigen::Matrix4d camera_to_target = Eigen::Matrix4d::Identity();
  camera_to_target.topLeftCorner<3, 3>() =
      Eigen::AngleAxisd(0.8, Eigen::Vector3d(1, -2, 0.5).normalized()).toRotationMatrix();
  camera_to_target.col(3) << 0.3, -1.2, 2.5, 1;
  return kernel::liftFor(412.5, 409.0, 150.25, 101.75, metres_per_sample, camera_to_target);
}

// Runs `project` into a buffer that starts `offset` points into a larger one filled with a
// marker, and fails the test if anything outside the result was written.
template <typename Sample>
std::vector<ProjectedPoint> projectGuarded(kernel::ListProjector<Sample> project,
                                           const Pixels& pixels,
                                           const kernel::DepthView<Sample>& view,
                                           const kernel::Lift& l, std::size_t offset) {
  constexpr std::size_t kMargin = 8;
  std::vector<ProjectedPoint> buffer(offset + pixels.size() + kMargin, ProjectedPoint(7, 7, 7));
  const std::size_t kept = project(pixels.data(), pixels.size(), view, l, buffer.data() + offset);
  const std::size_t end = offset + kept;
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    if (i < offset || i >= offset + pixels.size()) {
      EXPECT_TRUE(buffer[i].x == 7 && buffer[i].y == 7 && buffer[i].z == 7)
          << "point " << i << " outside a result of " << kept << " at " << offset;
    }
  }
  return std::vector<ProjectedPoint>(buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(end));
}

void expectSamePoints(const std::vector<ProjectedPoint>& actual,
                      const std::vector<ProjectedPoint>& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(sameUpToOneStep(actual[i].x, expected[i].x) &&
                sameUpToOneStep(actual[i].y, expected[i].y) &&
                sameUpToOneStep(actual[i].z, expected[i].z))
        << what << ", point " << i << ": (" << actual[i].x << ", " << actual[i].y << ", "
        << actual[i].z << ") against (" << expected[i].x << ", " << expected[i].y << ", "
        << expected[i].z << ")";
  }
}

template <typename Sample>
void expectProjectorsAgree(const kernel::DepthView<Sample>& view, const kernel::Lift& l,
                           bool with_avx512) {
  std::mt19937 rng(7);
  const kernel::Projector<Sample> portable = kernel::portableProjector<Sample>();
  std::vector<std::pair<std::string, kernel::ListProjector<Sample>>> others = {
      {"portable streamed", portable.streamed}};
#if VANTOREL_HAVE_AVX512_PROJECTION
  if (with_avx512) {
    others.push_back({"AVX-512 in place", kernel::projectListAvx512});
    others.push_back({"AVX-512 streamed", kernel::streamListAvx512});
  }
#else
  static_cast<void>(with_avx512);
#endif
  for (const Pixels& pixels : lists(rng)) {
    const auto expected = projectGuarded(portable.in_place, pixels, view, l, 0);
    for (const auto& [name, project] : others) {
      // Every start within a 64-byte line a vector's 16-byte aligned storage can give.
      for (std::size_t offset = 0; offset < 4; ++offset) {
        expectSamePoints(
            projectGuarded(project, pixels, view, l, offset), expected,
            name + " of " + std::to_string(pixels.size()) + " pixels at " + std::to_string(offset));
      }
    }
  }
}

bool avx512Runs() {
#if VANTOREL_HAVE_AVX512_PROJECTION
  cv::Mat probe(2, 2, CV_16UC1);
  return kernel::avx512ProjectionUsable(kernel::depthViewOf(probe, 0, 1));
#else
  return false;
#endif
}

}  // namespace

TEST(ProjectionKernel, EveryProjectorMatchesThePortableLoopOnSixteenBitDepth) {
  std::mt19937 rng(11);
  const Frame f = frame(CV_16UC1, rng);
  expectProjectorsAgree(kernel::depthViewOf(f.depth, 500, 15000), lift(0.001), avx512Runs());
  // Windows that keep no 16-bit value at all.
  expectProjectorsAgree(kernel::depthViewOf(f.depth, 70000, 80000), lift(0.001), avx512Runs());
  expectProjectorsAgree(kernel::depthViewOf(f.depth, -5, -1), lift(0.001), avx512Runs());
  if (!avx512Runs()) {
    GTEST_SKIP() << "this CPU lacks AVX-512 (F, BW, VL, DQ): only the portable streamed loop "
                    "was compared";
  }
}

TEST(ProjectionKernel, EveryProjectorMatchesThePortableLoopOnFloatDepth) {
  std::mt19937 rng(13);
  const Frame f = frame(CV_32FC1, rng);
  // Metres from 0.5 to 15, then a window reaching past every finite float.
  expectProjectorsAgree(kernel::metricDepthViewOf(f.depth, 500, 15000, 0.001), lift(1.0),
                        avx512Runs());
  expectProjectorsAgree(kernel::metricDepthViewOf(f.depth, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max(), 1e300),
                        lift(1.0), avx512Runs());
  if (!avx512Runs()) {
    GTEST_SKIP() << "this CPU lacks AVX-512 (F, BW, VL, DQ): only the portable streamed loop "
                    "was compared";
  }
}
