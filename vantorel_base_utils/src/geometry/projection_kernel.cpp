// SPDX-License-Identifier: Apache-2.0
// The portable projectors (in place and streamed), the choice of projector per CPU, and the
// projection of a pixel list.
#include "geometry/projection_kernel.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Pixels per step of the portable loop; bounds its scratch space.
constexpr std::size_t kBlockSize = 128;

// Whether a depth sample (widened as KeptPixels holds it) is kept; every projector keeps
// exactly these. Comparisons that involve a NaN are false, so a float NaN is never kept.
template <typename Sample, typename Depth>
[[gnu::always_inline]] inline bool inWindow(const DepthView<Sample>& view, Depth depth) {
  return (depth >= view.min_depth) & (depth <= view.max_depth);
}

template <typename Sample>
struct KeptPixels {
  using Depth = std::conditional_t<std::is_same_v<Sample, float>, float, std::int32_t>;
  std::array<std::int32_t, kBlockSize> u;
  std::array<std::int32_t, kBlockSize> v;
  std::array<Depth, kBlockSize> depth;
};

// Branch-free: every pixel is written to slot n, and n advances only for kept ones, so
// holes in the depth image cost no mispredicted branches. A pixel off the image reads
// element 0 (always present) instead of its own.
template <typename Sample>
[[gnu::always_inline]] inline std::size_t keepInWindow(const std::array<int, 2>* pixels,
                                                       std::size_t count,
                                                       const DepthView<Sample>& view,
                                                       KeptPixels<Sample>& kept) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int u = pixels[i][0];
    const int v = pixels[i][1];
    const bool inside =
        static_cast<std::uint32_t>(u) < view.cols && static_cast<std::uint32_t>(v) < view.rows;
    const std::size_t offset =
        inside ? static_cast<std::size_t>(v) * view.row_stride + static_cast<std::size_t>(u) : 0;
    const typename KeptPixels<Sample>::Depth depth = view.data[offset];
    kept.u[n] = u;
    kept.v[n] = v;
    kept.depth[n] = depth;
    n += static_cast<std::size_t>(inside & inWindow(view, depth));
  }
  return n;
}

template <typename Sample>
[[gnu::always_inline]] inline void liftKept(const KeptPixels<Sample>& kept, std::size_t count,
                                            const Lift& lift, ProjectedPoint* out) {
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

// One clone set per sample type (the compiler clones plain functions, not templates).
VANTOREL_VECTOR_CLONES
std::size_t keepPixelsInWindow(const std::array<int, 2>* pixels, std::size_t count,
                               const DepthView<std::uint16_t>& view,
                               KeptPixels<std::uint16_t>& kept) {
  return keepInWindow(pixels, count, view, kept);
}

VANTOREL_VECTOR_CLONES
std::size_t keepPixelsInWindow(const std::array<int, 2>* pixels, std::size_t count,
                               const DepthView<float>& view, KeptPixels<float>& kept) {
  return keepInWindow(pixels, count, view, kept);
}

VANTOREL_VECTOR_CLONES
void liftKeptPixels(const KeptPixels<std::uint16_t>& kept, std::size_t count, const Lift& lift,
                    ProjectedPoint* out) {
  liftKept(kept, count, lift, out);
}

VANTOREL_VECTOR_CLONES
void liftKeptPixels(const KeptPixels<float>& kept, std::size_t count, const Lift& lift,
                    ProjectedPoint* out) {
  liftKept(kept, count, lift, out);
}

constexpr std::size_t kLineBytes = 64;

// Where a large result goes on its way to memory. Each block projects into a small buffer
// that stays in the first-level cache; every complete 64-byte line of the result is then
// written with non-temporal stores, which do not read the line into the cache only to
// overwrite it. The buffer starts at the line that holds the result's next byte, so lines
// are copied whole and aligned.
class StreamedPoints {
 public:
  explicit StreamedPoints(ProjectedPoint* begin)
      : begin_(reinterpret_cast<unsigned char*>(begin)),
        line_(begin_ - reinterpret_cast<std::uintptr_t>(begin_) % kLineBytes),
        fill_(static_cast<std::size_t>(begin_ - line_)) {}

  // Room for kBlockSize points.
  ProjectedPoint* slot() { return reinterpret_cast<ProjectedPoint*>(stage_ + fill_); }

  // The block wrote this many points at slot().
  void commit(std::size_t points) {
    fill_ += points * sizeof(ProjectedPoint);
    const std::size_t lines = fill_ / kLineBytes;
    for (std::size_t i = 0; i < lines; ++i) {
      writeLine(stage_ + i * kLineBytes, line_ + i * kLineBytes);
    }
    const std::size_t done = lines * kLineBytes;
    std::memcpy(stage_, stage_ + done, fill_ - done);  // under one line, no overlap
    line_ += done;
    fill_ -= done;
  }

  // Writes the last partial line and orders the streamed stores before any later store, so
  // another thread handed the result sees all of it.
  void finish() {
    unsigned char* from = std::max(line_, begin_);
    std::memcpy(from, stage_ + (from - line_), fill_ - static_cast<std::size_t>(from - line_));
#if defined(__SSE2__)
    _mm_sfence();
#endif
  }

 private:
  void writeLine(const unsigned char* source, unsigned char* target) {
    if (target < begin_) {  // the first line starts before the result: its tail only
      const auto skip = static_cast<std::size_t>(begin_ - target);
      std::memcpy(begin_, source + skip, kLineBytes - skip);
      return;
    }
#if defined(__SSE2__)
    for (std::size_t i = 0; i < kLineBytes; i += 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(target + i),
                       _mm_load_si128(reinterpret_cast<const __m128i*>(source + i)));
    }
#else
    std::memcpy(target, source, kLineBytes);
#endif
  }

  alignas(kLineBytes) unsigned char stage_[kLineBytes + kBlockSize * sizeof(ProjectedPoint)];
  unsigned char* begin_;  // the result's first byte
  unsigned char* line_;   // the line-aligned address stage_[0] stands for
  std::size_t fill_;      // bytes of stage_ in use, counted from line_
};

// Projects count (at most kBlockSize) pixels into out; returns how many were kept.
template <typename Sample>
std::size_t projectBlockPortable(const std::array<int, 2>* pixels, std::size_t count,
                                 const DepthView<Sample>& view, const Lift& lift,
                                 ProjectedPoint* out) {
  KeptPixels<Sample> kept;
  const std::size_t n = keepPixelsInWindow(pixels, count, view, kept);
  liftKeptPixels(kept, n, lift, out);
  return n;
}

template <typename Sample>
std::size_t projectListPortable(const std::array<int, 2>* pixels, std::size_t count,
                                const DepthView<Sample>& view, const Lift& lift,
                                ProjectedPoint* out) {
  std::size_t kept = 0;
  for (std::size_t start = 0; start < count; start += kBlockSize) {
    kept += projectBlockPortable(pixels + start, std::min(kBlockSize, count - start), view, lift,
                                 out + kept);
  }
  return kept;
}

template <typename Sample>
std::size_t streamListPortable(const std::array<int, 2>* pixels, std::size_t count,
                               const DepthView<Sample>& view, const Lift& lift,
                               ProjectedPoint* out) {
  StreamedPoints streamed(out);
  std::size_t kept = 0;
  for (std::size_t start = 0; start < count; start += kBlockSize) {
    const std::size_t block = std::min(kBlockSize, count - start);
    const std::size_t block_kept =
        projectBlockPortable(pixels + start, block, view, lift, streamed.slot());
    streamed.commit(block_kept);
    kept += block_kept;
  }
  streamed.finish();
  return kept;
}

// A result the last-level cache cannot hold goes to memory anyway; written around the cache
// it does not first read every line it overwrites, nor evict the caller's other data.
// Smaller results are better left in the cache for whoever reads them next.
std::size_t lastLevelCacheBytes() {
#if defined(_SC_LEVEL3_CACHE_SIZE) && defined(_SC_LEVEL2_CACHE_SIZE)
  for (const int level : {_SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE}) {
    const long bytes = ::sysconf(level);
    if (bytes > 0) {
      return static_cast<std::size_t>(bytes);
    }
  }
#endif
  return std::size_t{8} << 20;  // unknown: a typical desktop's
}

}  // namespace

template <typename Sample>
Projector<Sample> portableProjector() {
  return {projectListPortable<Sample>, streamListPortable<Sample>};
}

template <typename Sample>
Projector<Sample> projectorFor(const DepthView<Sample>& view) {
#if VANTOREL_HAVE_AVX512_PROJECTION
  if (avx512ProjectionUsable(view)) {
    return {static_cast<ListProjector<Sample>>(projectListAvx512),
            static_cast<ListProjector<Sample>>(streamListAvx512)};
  }
#else
  static_cast<void>(view);
#endif
  return portableProjector<Sample>();
}

std::size_t streamingThresholdBytes() {
  static const std::size_t threshold = lastLevelCacheBytes();
  return threshold;
}

template <typename Sample>
std::vector<ProjectedPoint> projectPixels(const DepthView<Sample>& view, const Lift& lift,
                                          const std::vector<std::array<int, 2>>& pixels,
                                          const Projector<Sample>& projector,
                                          std::size_t streaming_threshold) {
  if (pixels.empty()) {
    return {};
  }
  // Sized without being cleared (see ProjectedPoint), written once, then cut to what was kept.
  std::vector<ProjectedPoint> result(pixels.size());
  const bool large = pixels.size() * sizeof(ProjectedPoint) >= streaming_threshold;
  const ListProjector<Sample> project = large ? projector.streamed : projector.in_place;
  result.resize(project(pixels.data(), pixels.size(), view, lift, result.data()));
  return result;
}

namespace {

// Each row goes through the projector as a pixel list, so that a pixel lands exactly where
// a pixel list puts it: the kept points come out compacted at the start of the row, and are
// then spread back to their columns from the end (a kept pixel's point never lies to the
// right of its column), NaN in the columns without depth.
template <typename Sample>
void liftImage(const DepthView<Sample>& view, const Lift& lift, ProjectedPoint* out) {
  using Depth = typename KeptPixels<Sample>::Depth;
  const ListProjector<Sample> project = projectorFor(view).in_place;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const ProjectedPoint no_point(nan, nan, nan);
  std::vector<std::array<int, 2>> row_pixels(view.cols);
  for (std::uint32_t u = 0; u < view.cols; ++u) {
    row_pixels[u] = {static_cast<int>(u), 0};
  }
  for (std::uint32_t v = 0; v < view.rows; ++v) {
    for (std::array<int, 2>& pixel : row_pixels) {
      pixel[1] = static_cast<int>(v);
    }
    ProjectedPoint* row = out + static_cast<std::size_t>(v) * view.cols;
    std::size_t kept = project(row_pixels.data(), view.cols, view, lift, row);
    const Sample* samples = view.data + v * view.row_stride;
    // Once as many points are left as columns, the rest of the row is in place.
    for (std::size_t u = view.cols; u > kept;) {
      --u;
      row[u] = inWindow(view, static_cast<Depth>(samples[u])) ? row[--kept] : no_point;
    }
  }
}

}  // namespace

void liftWholeImage(const DepthView<std::uint16_t>& view, const Lift& lift, ProjectedPoint* out) {
  liftImage(view, lift, out);
}

void liftWholeImage(const DepthView<float>& view, const Lift& lift, ProjectedPoint* out) {
  liftImage(view, lift, out);
}

DepthView<std::uint16_t> depthViewOf(const cv::Mat& depth, int min_depth, int max_depth) {
  DepthView<std::uint16_t> view;
  view.data = depth.ptr<std::uint16_t>(0);
  view.row_stride = depth.step1(0);
  view.cols = static_cast<std::uint32_t>(depth.cols);
  view.rows = static_cast<std::uint32_t>(depth.rows);
  view.min_depth = min_depth;
  view.max_depth = max_depth;
  return view;
}

namespace {

// The smallest float f with f >= limit (limit not NaN); +inf when there is none.
float floatAtOrAbove(double limit) {
  const auto f = static_cast<float>(limit);
  return static_cast<double>(f) < limit ? std::nextafter(f, std::numeric_limits<float>::infinity())
                                        : f;
}

// The largest float f with f <= limit; -inf when there is none.
float floatAtOrBelow(double limit) {
  const auto f = static_cast<float>(limit);
  return static_cast<double>(f) > limit ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                                        : f;
}

}  // namespace

// With float bounds the comparison is exact: z >= floatAtOrAbove(x) exactly when z >= x.
// The lower bound is at least the smallest positive float, the upper at most the largest
// finite one, so zero, negative and infinite values never pass.
DepthView<float> metricDepthViewOf(const cv::Mat& depth, int min_depth, int max_depth,
                                   double depth_scale) {
  DepthView<float> view;
  view.data = depth.ptr<float>(0);
  view.row_stride = depth.step1(0);
  view.cols = static_cast<std::uint32_t>(depth.cols);
  view.rows = static_cast<std::uint32_t>(depth.rows);
  view.min_depth =
      std::max(floatAtOrAbove(min_depth * depth_scale), std::numeric_limits<float>::denorm_min());
  view.max_depth =
      std::min(floatAtOrBelow(max_depth * depth_scale), std::numeric_limits<float>::max());
  return view;
}

// With z = s d, x = (u - cx) z / fx and y = (v - cy) z / fy, row r of T (x, y, z, 1) is
// d * s * (T(r,0) (u - cx) / fx + T(r,1) (v - cy) / fy + T(r,2)) + T(r,3).
Lift liftFor(double fx, double fy, double cx, double cy, double metres_per_sample,
             const Eigen::Matrix4d& camera_to_target) {
  const Eigen::Matrix4d& m = camera_to_target;
  Lift lift;
  lift.cx = cx;
  lift.cy = cy;
  for (Eigen::Index r = 0; r < 3; ++r) {
    const auto i = static_cast<std::size_t>(r);
    lift.a[i] = metres_per_sample * m(r, 0) / fx;
    lift.b[i] = metres_per_sample * m(r, 1) / fy;
    lift.c[i] = metres_per_sample * m(r, 2);
    lift.t[i] = m(r, 3);
  }
  return lift;
}

template Projector<std::uint16_t> portableProjector();
template Projector<float> portableProjector();
template Projector<std::uint16_t> projectorFor(const DepthView<std::uint16_t>&);
template Projector<float> projectorFor(const DepthView<float>&);
template std::vector<ProjectedPoint> projectPixels(const DepthView<std::uint16_t>&, const Lift&,
                                                   const std::vector<std::array<int, 2>>&,
                                                   const Projector<std::uint16_t>&, std::size_t);
template std::vector<ProjectedPoint> projectPixels(const DepthView<float>&, const Lift&,
                                                   const std::vector<std::array<int, 2>>&,
                                                   const Projector<float>&, std::size_t);

}  // namespace projection_kernel
}  // namespace vantorel_base_utils
