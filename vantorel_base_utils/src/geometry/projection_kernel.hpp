// SPDX-License-Identifier: Apache-2.0
// The pixel projection loop shared by every projection operation.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include <Eigen/Core>

#include "vantorel_base_utils/projection.hpp"

namespace vantorel_base_utils {
namespace projection_kernel {

// A read-only view of a depth image and the window of depth values it keeps. Samples are
// raw 16-bit values (window in raw units, compared as int) or 32-bit float metres (window in
// metres as floats, which leave out NaN and both infinities by themselves).
template <typename Sample>
struct DepthView {
  static_assert(std::is_same_v<Sample, std::uint16_t> || std::is_same_v<Sample, float>);
  using Bound = std::conditional_t<std::is_same_v<Sample, float>, float, int>;
  const Sample* data = nullptr;
  std::size_t row_stride = 0;  // in elements
  std::uint32_t cols = 0;
  std::uint32_t rows = 0;
  Bound min_depth = 0;
  Bound max_depth = 0;
};

// depth must be a 2-D CV_16UC1 image.
DepthView<std::uint16_t> depthViewOf(const cv::Mat& depth, int min_depth, int max_depth);

// depth must be a 2-D CV_32FC1 image in metres. Keeps the values z with
// min_depth * depth_scale <= z <= max_depth * depth_scale (products in double) that are
// also finite and positive.
DepthView<float> metricDepthViewOf(const cv::Mat& depth, int min_depth, int max_depth,
                                   double depth_scale);

// Back-projection and rigid transform folded into per-call factors, one set per output
// row r: coordinate r = d * (a[r] * (u - cx) + b[r] * (v - cy) + c[r]) + t[r] for the depth
// sample d at (u, v). Keeping u - cx (rather than folding cx into c) makes the principal
// point project exactly onto the optical axis.
struct Lift {
  double cx = 0.0;
  double cy = 0.0;
  std::array<double, 3> a{};
  std::array<double, 3> b{};
  std::array<double, 3> c{};
  std::array<double, 3> t{};
};

// metres_per_sample: the context's depth scale for 16-bit images, 1 for float metres.
Lift liftFor(double fx, double fy, double cx, double cy, double metres_per_sample,
             const Eigen::Matrix4d& camera_to_target);

// Lifts every pixel of the image into out, row by row: the point of pixel (u, v) at
// v * cols + u, exactly where projecting the pixel as a pixel list puts it, or NaN in x, y
// and z for a pixel without depth in the window, as organised point clouds mark it. out
// needs room for cols * rows points.
void liftWholeImage(const DepthView<std::uint16_t>& view, const Lift& lift, ProjectedPoint* out);
void liftWholeImage(const DepthView<float>& view, const Lift& lift, ProjectedPoint* out);

// Projects count pixels and writes the kept points, compacted and in order, from out on;
// returns how many. out must have room for count points.
template <typename Sample>
using ListProjector = std::size_t (*)(const std::array<int, 2>* pixels, std::size_t count,
                                      const DepthView<Sample>& view, const Lift& lift,
                                      ProjectedPoint* out);

template <typename Sample>
struct Projector {
  ListProjector<Sample> in_place;  // for results the cache can hold
  ListProjector<Sample> streamed;  // for larger ones: written around the cache
};

// The loops for any x86-64 (or other) CPU.
template <typename Sample>
Projector<Sample> portableProjector();

// The fastest projector this CPU can run on this image.
template <typename Sample>
Projector<Sample> projectorFor(const DepthView<Sample>& view);

// Results of at least this many bytes bypass the caches on their way to memory.
std::size_t streamingThresholdBytes();

// Projects the pixels inside the image whose depth lies in the window, in input order.
// Results of streaming_threshold bytes or more are streamed.
template <typename Sample>
std::vector<ProjectedPoint> projectPixels(const DepthView<Sample>& view, const Lift& lift,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          const Projector<Sample>& projector,
                                          std::size_t streaming_threshold);

template <typename Sample>
std::vector<ProjectedPoint> projectPixels(const DepthView<Sample>& view, const Lift& lift,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          const Projector<Sample>& projector) {
  return projectPixels(view, lift, pixels, projector, streamingThresholdBytes());
}

}  // namespace projection_kernel
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_HPP_
