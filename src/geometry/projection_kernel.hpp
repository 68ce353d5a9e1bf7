// The pixel projection loop shared by every projection operation.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <Eigen/Core>

#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {
namespace projection_kernel {

// A read-only view of a 16-bit depth image and the accepted raw depth window.
struct DepthView {
  const std::uint16_t* data = nullptr;
  std::size_t row_stride = 0;  // in elements
  std::uint32_t cols = 0;
  std::uint32_t rows = 0;
  int min_depth = 0;
  int max_depth = 0;
};

// depth must be a 2-D CV_16UC1 image.
DepthView depthViewOf(const cv::Mat& depth, int min_depth, int max_depth);

// Back-projection and rigid transform folded into per-call factors, one set per output
// row r: coordinate r = d * (a[r] * (u - cx) + b[r] * (v - cy) + c[r]) + t[r] for raw depth d
// at (u, v). Keeping u - cx (rather than folding cx into c) makes the principal point
// project exactly onto the optical axis.
struct Lift {
  double cx = 0.0;
  double cy = 0.0;
  std::array<double, 3> a{};
  std::array<double, 3> b{};
  std::array<double, 3> c{};
  std::array<double, 3> t{};
};

Lift liftFor(double fx, double fy, double cx, double cy, const Eigen::Matrix4d& camera_to_target);

// Projects count pixels and writes the kept points, compacted and in order, from out on;
// returns how many. out must have room for count (at most kBlockSize) points.
using BlockProjector = std::size_t (*)(const std::array<int, 2>* pixels, std::size_t count,
                                       const DepthView& view, const Lift& lift,
                                       ProjectedPoint* out);
// Small enough for a block's points to stay in L1 until they are appended to the result.
constexpr std::size_t kBlockSize = 128;

// The loop for any x86-64 (or other) CPU.
std::size_t projectBlockPortable(const std::array<int, 2>* pixels, std::size_t count,
                                 const DepthView& view, const Lift& lift, ProjectedPoint* out);

// The fastest block projector this CPU can run on this image.
BlockProjector blockProjectorFor(const DepthView& view);

// Projects the pixels inside the image whose depth lies in the window, in input order.
std::vector<ProjectedPoint> projectPixels(const DepthView& view, const Lift& lift,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          BlockProjector project_block);

}  // namespace projection_kernel
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_
