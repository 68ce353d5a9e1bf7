// The AVX-512 block projector: 16 pixels per step, runs loaded plainly, the rest gathered.
#include "geometry/projection_kernel_avx512.hpp"

#if VANTOREL_HAVE_AVX512_PROJECTION

// GCC 12's AVX-512 intrinsics start some results from deliberately undefined registers,
// which its own flow analysis then reports as maybe uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <limits>

#define VANTOREL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))

namespace vantorel_base_utils {
namespace projection_kernel {

namespace {

constexpr int kLanes = 16;

// Lane indices that split 16 (u, v) pairs held in two registers into u and v.
struct Deinterleave {
  alignas(64) std::int32_t u[kLanes];
  alignas(64) std::int32_t v[kLanes];
};

constexpr Deinterleave deinterleaveIndices() {
  Deinterleave d{};
  for (int i = 0; i < kLanes; ++i) {
    d.u[i] = 2 * i;
    d.v[i] = 2 * i + 1;
  }
  return d;
}

// Indices that interleave 16 x, 16 y and 16 z values into 48 floats x0 y0 z0 x1 ...: for
// each of the three output registers, first x and y are picked (x from lanes 0-15, y from
// 16-31), then z replaces every third lane.
struct Interleave {
  alignas(64) std::int32_t xy[3][kLanes];
  alignas(64) std::int32_t z[3][kLanes];
};

constexpr Interleave interleaveIndices() {
  Interleave in{};
  for (int o = 0; o < 3; ++o) {
    for (int j = 0; j < kLanes; ++j) {
      const int point = (kLanes * o + j) / 3;
      const int coordinate = (kLanes * o + j) % 3;
      in.xy[o][j] = coordinate == 1 ? kLanes + point : point;
      in.z[o][j] = coordinate == 2 ? kLanes + point : j;
    }
  }
  return in;
}

constexpr Deinterleave kDeinterleave = deinterleaveIndices();
alignas(64) constexpr std::int32_t kIota[kLanes] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                    8, 9, 10, 11, 12, 13, 14, 15};
constexpr Interleave kInterleave = interleaveIndices();

// Per-output-row factors: factor = a (u - cx) + b (v - cy) + c, coordinate = d factor + t.
struct Coefficients {
  Lift lift;
  __m512d cx, cy;
  __m512d a[3], b[3], c[3], t[3];
  __m512d a_times_lane[3][2];  // a * i for lanes i = 0-7 and 8-15
};

VANTOREL_AVX512 Coefficients broadcast(const Lift& lift) {
  Coefficients k;
  k.lift = lift;
  k.cx = _mm512_set1_pd(lift.cx);
  k.cy = _mm512_set1_pd(lift.cy);
  const __m512d lanes_low = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
  const __m512d lanes_high = _mm512_setr_pd(8, 9, 10, 11, 12, 13, 14, 15);
  for (int r = 0; r < 3; ++r) {
    const auto i = static_cast<std::size_t>(r);
    k.a[r] = _mm512_set1_pd(lift.a[i]);
    k.b[r] = _mm512_set1_pd(lift.b[i]);
    k.c[r] = _mm512_set1_pd(lift.c[i]);
    k.t[r] = _mm512_set1_pd(lift.t[i]);
    k.a_times_lane[r][0] = _mm512_mul_pd(k.a[r], lanes_low);
    k.a_times_lane[r][1] = _mm512_mul_pd(k.a[r], lanes_high);
  }
  return k;
}

using Factors = __m512d[3][2];

VANTOREL_AVX512 __m512d lowToDouble(__m512i x) {
  return _mm512_cvtepi32_pd(_mm512_castsi512_si256(x));
}

VANTOREL_AVX512 __m512d highToDouble(__m512i x) {
  return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(x, 1));
}

VANTOREL_AVX512 void factorsOfPixels(const Coefficients& k, __m512i u, __m512i v, Factors& f) {
  const __m512d du[2] = {_mm512_sub_pd(lowToDouble(u), k.cx), _mm512_sub_pd(highToDouble(u), k.cx)};
  const __m512d dv[2] = {_mm512_sub_pd(lowToDouble(v), k.cy), _mm512_sub_pd(highToDouble(v), k.cy)};
  for (int r = 0; r < 3; ++r) {
    for (int h = 0; h < 2; ++h) {
      f[r][h] = _mm512_fmadd_pd(k.a[r], du[h], _mm512_fmadd_pd(k.b[r], dv[h], k.c[r]));
    }
  }
}

// Along a run the row term is one number and the column term grows by a per lane.
VANTOREL_AVX512 void factorsOfRun(const Coefficients& k, int u0, int v0, Factors& f) {
  for (int r = 0; r < 3; ++r) {
    const auto i = static_cast<std::size_t>(r);
    const double row_term = k.lift.b[i] * (v0 - k.lift.cy) + k.lift.c[i];
    const __m512d start = _mm512_set1_pd(k.lift.a[i] * (u0 - k.lift.cx) + row_term);
    f[r][0] = _mm512_add_pd(start, k.a_times_lane[r][0]);
    f[r][1] = _mm512_add_pd(start, k.a_times_lane[r][1]);
  }
}

// Coordinate r of 16 points, in double precision, rounded to float once at the end.
VANTOREL_AVX512 __m512 coordinate(const Coefficients& k, int r, const Factors& f,
                                  const __m512d (&d)[2]) {
  const __m256 low = _mm512_cvtpd_ps(_mm512_fmadd_pd(d[0], f[r][0], k.t[r]));
  const __m256 high = _mm512_cvtpd_ps(_mm512_fmadd_pd(d[1], f[r][1], k.t[r]));
  return _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1);
}

VANTOREL_AVX512 __mmask16 firstLanes(unsigned count) {
  return count >= 16 ? __mmask16(0xFFFF) : static_cast<__mmask16>((1u << count) - 1u);
}

// Whether the 16 pixels are consecutive columns of one row, as pixel lists taken from
// masks or whole frames mostly are.
VANTOREL_AVX512 bool isRun(__m512i u, __m512i v) {
  const __m512i u0 = _mm512_set1_epi32(_mm_cvtsi128_si32(_mm512_castsi512_si128(u)));
  const __m512i v0 = _mm512_set1_epi32(_mm_cvtsi128_si32(_mm512_castsi512_si128(v)));
  const __m512i run = _mm512_add_epi32(u0, _mm512_load_si512(kIota));
  return (_mm512_cmpeq_epi32_mask(u, run) & _mm512_cmpeq_epi32_mask(v, v0)) == 0xFFFF;
}

// Sixteen depths of a run inside the image, read with one plain load.
VANTOREL_AVX512 __m512i loadRun(const DepthView& view, __m512i offset) {
  const auto first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(offset)));
  return _mm512_cvtepu16_epi32(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(view.data + first)));
}

// The gather reads 32 bits per lane; the very last pixel of the image is read together
// with the one before it, so no lane reads past the image.
VANTOREL_AVX512 __m512i gatherDepth(const DepthView& view, __mmask16 inside, __m512i offset,
                                    std::int32_t last_offset) {
  const __mmask16 at_end =
      _mm512_mask_cmpeq_epi32_mask(inside, offset, _mm512_set1_epi32(last_offset));
  offset = _mm512_mask_sub_epi32(offset, at_end, offset, _mm512_set1_epi32(1));
  __m512i depth = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, offset,
                                              static_cast<const void*>(view.data), 2);
  depth = _mm512_mask_srli_epi32(depth, at_end, depth, 16);
  return _mm512_and_si512(depth, _mm512_set1_epi32(0xFFFF));
}

// Projects up to 16 pixels and stores the kept ones, compacted, at out; returns their number.
VANTOREL_AVX512 unsigned projectSixteen(const std::array<int, 2>* pixels, unsigned count,
                                        const DepthView& view, std::int32_t last_offset,
                                        const Coefficients& k, float* out) {
  const int* raw_pixels = pixels->data();
  const __m512i first = _mm512_maskz_loadu_epi32(firstLanes(2 * std::min(count, 8u)), raw_pixels);
  // The second half is addressed only when it exists.
  const __m512i second =
      count > 8 ? _mm512_maskz_loadu_epi32(firstLanes(2 * (count - 8)), raw_pixels + kLanes)
                : _mm512_setzero_si512();
  const __m512i u = _mm512_permutex2var_epi32(first, _mm512_load_si512(kDeinterleave.u), second);
  const __m512i v = _mm512_permutex2var_epi32(first, _mm512_load_si512(kDeinterleave.v), second);

  // Unsigned comparison also sends negative coordinates out.
  const __mmask16 inside =
      firstLanes(count) &
      _mm512_cmplt_epu32_mask(u, _mm512_set1_epi32(static_cast<int>(view.cols))) &
      _mm512_cmplt_epu32_mask(v, _mm512_set1_epi32(static_cast<int>(view.rows)));
  const __m512i offset = _mm512_add_epi32(
      _mm512_mullo_epi32(v, _mm512_set1_epi32(static_cast<int>(view.row_stride))), u);
  const bool run = inside == 0xFFFF && isRun(u, v);
  const __m512i depth =
      run ? loadRun(view, offset) : gatherDepth(view, inside, offset, last_offset);

  const __mmask16 keep =
      _mm512_mask_cmpge_epi32_mask(inside, depth, _mm512_set1_epi32(view.min_depth)) &
      _mm512_mask_cmple_epi32_mask(inside, depth, _mm512_set1_epi32(view.max_depth));
  if (keep == 0) {
    return 0;
  }

  Factors f;
  if (run) {
    factorsOfRun(k, pixels[0][0], pixels[0][1], f);
  } else {
    factorsOfPixels(k, u, v, f);
  }
  const __m512d d[2] = {lowToDouble(depth), highToDouble(depth)};
  __m512 x = coordinate(k, 0, f, d);
  __m512 y = coordinate(k, 1, f, d);
  __m512 z = coordinate(k, 2, f, d);
  if (keep != 0xFFFF) {
    x = _mm512_maskz_compress_ps(keep, x);
    y = _mm512_maskz_compress_ps(keep, y);
    z = _mm512_maskz_compress_ps(keep, z);
  }
  const unsigned kept = static_cast<unsigned>(__builtin_popcount(keep));
  // Three stores of 16 floats hold 16 points; fewer points need fewer, masked, stores.
  const unsigned floats = 3 * kept;
  for (unsigned o = 0; o < 3; ++o) {
    const __m512 xy = _mm512_permutex2var_ps(x, _mm512_load_si512(kInterleave.xy[o]), y);
    const __m512 xyz = _mm512_permutex2var_ps(xy, _mm512_load_si512(kInterleave.z[o]), z);
    const unsigned done = 16 * o;
    _mm512_mask_storeu_ps(out + done, firstLanes(floats > done ? floats - done : 0), xyz);
  }
  return kept;
}

}  // namespace

bool avx512ProjectionUsable(const DepthView& view) {
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vl") || !__builtin_cpu_supports("avx512dq")) {
    return false;
  }
  if (view.rows == 0 || view.cols == 0) {
    return false;
  }
  // 32-bit element offsets, and at least two elements for the paired read at the end.
  const std::uint64_t last =
      (static_cast<std::uint64_t>(view.rows) - 1) * view.row_stride + view.cols - 1;
  return last >= 1 && last <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
}

VANTOREL_AVX512 std::size_t projectBlockAvx512(const std::array<int, 2>* pixels, std::size_t count,
                                               const DepthView& view, const Lift& lift,
                                               ProjectedPoint* out) {
  const Coefficients k = broadcast(lift);
  const auto last_offset = static_cast<std::int32_t>(
      (static_cast<std::size_t>(view.rows) - 1) * view.row_stride + view.cols - 1);
  float* cursor = &out->x;
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; i += kLanes) {
    const auto lanes = static_cast<unsigned>(std::min<std::size_t>(kLanes, count - i));
    const unsigned kept = projectSixteen(pixels + i, lanes, view, last_offset, k, cursor);
    cursor += 3 * kept;
    written += kept;
  }
  return written;
}

}  // namespace projection_kernel
}  // namespace vantorel_base_utils

#endif
