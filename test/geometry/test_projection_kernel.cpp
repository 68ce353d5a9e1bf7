// The block projectors side by side on the same blocks: the AVX-512 one, which CPUs that have
// it run, must keep exactly the pixels the portable one keeps, in the same order, at the same
// points up to the last bit of a float.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
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

// The kinds of block the AVX-512 projector treats differently: runs along a row (one plain
// load), runs that end on the image's last pixel (the paired read at the end), runs broken by
// a row change, and scattered pixels partly off the image (the gather).
std::vector<Pixels> blocks(std::mt19937& rng) {
  std::uniform_int_distribution<int> u(-3, kCols + 2);
  std::uniform_int_distribution<int> v(-3, kRows + 2);
  std::vector<Pixels> result;
  for (const int count : {1, 7, 15, 16, 17, 31, 48, 100, 127, 128}) {
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
  return result;
}

}  // namespace

TEST(ProjectionKernel, Avx512BlocksMatchThePortableBlocks) {
#if !VANTOREL_HAVE_AVX512_PROJECTION
  GTEST_SKIP() << "the AVX-512 projection kernel is not built on this platform";
#else
  // Padded rows, random depths with holes, and a window that drops some of them.
  cv::Mat storage(kRows + 2, kCols + 5, CV_16UC1);
  cv::randu(storage, 0, 20000);
  const cv::Mat depth = storage(cv::Rect(3, 1, kCols, kRows));
  const kernel::DepthView view = kernel::depthViewOf(depth, 500, 15000);
  if (!kernel::avx512ProjectionUsable(view)) {
    GTEST_SKIP() << "this CPU lacks AVX-512 (F, BW, VL, DQ): the AVX-512 projection kernel was "
                    "not run";
  }
  Eigen::Matrix4d camera_to_target = Eigen::Matrix4d::Identity();
  camera_to_target.topLeftCorner<3, 3>() =
      Eigen::AngleAxisd(0.8, Eigen::Vector3d(1, -2, 0.5).normalized()).toRotationMatrix();
  camera_to_target.col(3) << 0.3, -1.2, 2.5, 1;
  const kernel::Lift lift = kernel::liftFor(412.5, 409.0, 150.25, 101.75, camera_to_target);

  std::mt19937 rng(7);
  for (const Pixels& block : blocks(rng)) {
    std::vector<ProjectedPoint> portable(kernel::kBlockSize);
    std::vector<ProjectedPoint> avx512(kernel::kBlockSize);
    const std::size_t kept_portable =
        kernel::projectBlockPortable(block.data(), block.size(), view, lift, portable.data());
    const std::size_t kept_avx512 =
        kernel::projectBlockAvx512(block.data(), block.size(), view, lift, avx512.data());
    ASSERT_EQ(kept_avx512, kept_portable) << "block of " << block.size();
    for (std::size_t i = 0; i < kept_portable; ++i) {
      EXPECT_TRUE(sameUpToOneStep(avx512[i].x, portable[i].x) &&
                  sameUpToOneStep(avx512[i].y, portable[i].y) &&
                  sameUpToOneStep(avx512[i].z, portable[i].z))
          << "point " << i << " of a block of " << block.size() << ": (" << avx512[i].x << ", "
          << avx512[i].y << ", " << avx512[i].z << ") against (" << portable[i].x << ", "
          << portable[i].y << ", " << portable[i].z << ")";
    }
  }
#endif
}
