// The portable block projector, the choice of projector per CPU, and the loop over blocks.
#include "geometry/projection_kernel.hpp"

#include <algorithm>

#include "geometry/projection_kernel_avx512.hpp"

// The portable loops are compiled for AVX-512, AVX2 and baseline x86-64 and picked at load
// time; CPUs with AVX-512 get a hand-vectorised block instead. Either way the library needs
// no instruction-set flags (which would also change the alignment, and so the layout, of
// the Eigen members of ProjectionContext). ThreadSanitizer builds keep the baseline loop:
// they instrument the resolver that picks a clone, which runs during relocation, before the
// sanitizer's runtime is up, and crashes the program at load.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(__SANITIZE_THREAD__)
#define VANTOREL_VECTOR_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VANTOREL_VECTOR_CLONES
#endif

namespace vantorel_base_utils {
namespace projection_kernel {

namespace {

struct KeptPixels {
  std::array<std::int32_t, kBlockSize> u;
  std::array<std::int32_t, kBlockSize> v;
  std::array<std::int32_t, kBlockSize> depth;
};

// Branch-free: every pixel is written to slot n, and n advances only for kept ones, so
// holes in the depth image cost no mispredicted branches. A pixel off the image reads
// element 0 (always present) instead of its own.
VANTOREL_VECTOR_CLONES
std::size_t keepPixelsInWindow(const std::array<int, 2>* pixels, std::size_t count,
                               const DepthView& view, KeptPixels& kept) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int u = pixels[i][0];
    const int v = pixels[i][1];
    const bool inside =
        static_cast<std::uint32_t>(u) < view.cols && static_cast<std::uint32_t>(v) < view.rows;
    const std::size_t offset =
        inside ? static_cast<std::size_t>(v) * view.row_stride + static_cast<std::size_t>(u) : 0;
    const int depth = view.data[offset];
    kept.u[n] = u;
    kept.v[n] = v;
    kept.depth[n] = depth;
    n += static_cast<std::size_t>(inside & (depth >= view.min_depth) & (depth <= view.max_depth));
  }
  return n;
}

VANTOREL_VECTOR_CLONES
void liftKeptPixels(const KeptPixels& kept, std::size_t count, const Lift& lift,
                    ProjectedPoint* out) {
  const Lift l = lift;  // local copy: the compiler need not reload it after each store
  for (std::size_t i = 0; i < count; ++i) {
    const double u = kept.u[i] - l.cx;
    const double v = kept.v[i] - l.cy;
    const double d = kept.depth[i];
    out[i].x = static_cast<float>(d * (l.a[0] * u + l.b[0] * v + l.c[0]) + l.t[0]);
    out[i].y = static_cast<float>(d * (l.a[1] * u + l.b[1] * v + l.c[1]) + l.t[1]);
    out[i].z = static_cast<float>(d * (l.a[2] * u + l.b[2] * v + l.c[2]) + l.t[2]);
  }
}

}  // namespace

std::size_t projectBlockPortable(const std::array<int, 2>* pixels, std::size_t count,
                                 const DepthView& view, const Lift& lift, ProjectedPoint* out) {
  KeptPixels kept;
  const std::size_t n = keepPixelsInWindow(pixels, count, view, kept);
  liftKeptPixels(kept, n, lift, out);
  return n;
}

BlockProjector blockProjectorFor(const DepthView& view) {
#if VANTOREL_HAVE_AVX512_PROJECTION
  if (avx512ProjectionUsable(view)) {
    return projectBlockAvx512;
  }
#else
  static_cast<void>(view);
#endif
  return projectBlockPortable;
}

DepthView depthViewOf(const cv::Mat& depth, int min_depth, int max_depth) {
  DepthView view;
  view.data = depth.ptr<std::uint16_t>(0);
  view.row_stride = depth.step1(0);
  view.cols = static_cast<std::uint32_t>(depth.cols);
  view.rows = static_cast<std::uint32_t>(depth.rows);
  view.min_depth = min_depth;
  view.max_depth = max_depth;
  return view;
}

// With z = 0.001 d, x = (u - cx) z / fx and y = (v - cy) z / fy, row r of T (x, y, z, 1) is
// d * 0.001 * (T(r,0) (u - cx) / fx + T(r,1) (v - cy) / fy + T(r,2)) + T(r,3).
Lift liftFor(double fx, double fy, double cx, double cy, const Eigen::Matrix4d& camera_to_target) {
  constexpr double kMetresPerRawUnit = 0.001;
  const Eigen::Matrix4d& m = camera_to_target;
  Lift lift;
  lift.cx = cx;
  lift.cy = cy;
  for (Eigen::Index r = 0; r < 3; ++r) {
    const auto i = static_cast<std::size_t>(r);
    lift.a[i] = kMetresPerRawUnit * m(r, 0) / fx;
    lift.b[i] = kMetresPerRawUnit * m(r, 1) / fy;
    lift.c[i] = kMetresPerRawUnit * m(r, 2);
    lift.t[i] = m(r, 3);
  }
  return lift;
}

std::vector<ProjectedPoint> projectPixels(const DepthView& view, const Lift& lift,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          BlockProjector project_block) {
  std::vector<ProjectedPoint> result;
  result.reserve(pixels.size());
  // Within the reserved capacity neither resize reallocates, and growing by a block does not
  // touch memory (the point's default constructor does nothing): the block is written once.
  for (std::size_t start = 0; start < pixels.size(); start += kBlockSize) {
    const std::size_t count = std::min(kBlockSize, pixels.size() - start);
    const std::size_t old_size = result.size();
    result.resize(old_size + count);
    const std::size_t kept =
        project_block(pixels.data() + start, count, view, lift, result.data() + old_size);
    result.resize(old_size + kept);
  }
  return result;
}

}  // namespace projection_kernel
}  // namespace vantorel_base_utils
