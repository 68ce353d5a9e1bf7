// SPDX-License-Identifier: Apache-2.0
// The AVX-512 projectors: 16 pixels per step, runs along a row loaded plainly, other pixels
// gathered.
#include "geometry/projection_kernel_avx512.hpp"

#if VANTOREL_HAVE_AVX512_PROJECTION

// GCC 12's AVX-512 intrinsics start some results from deliberately undefined registers,
// which its own flow analysis then reports as (maybe) uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <limits>
#include <type_traits>

#define VANTOREL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,prfchw")))
// The steps of a block are inlined into its loop: as calls they would pass their vectors
// and coefficients through memory.
#define VANTOREL_AVX512_STEP VANTOREL_AVX512 __attribute__((always_inline)) inline

namespace vantorel_base_utils {
namespace projection_kernel {

namespace {

constexpr int kLanes = 16;

// Points are written as a run of floats x0 y0 z0 x1 ...
static_assert(std::is_standard_layout_v<ProjectedPoint> &&
              sizeof(ProjectedPoint) == 3 * sizeof(float));

using Lanes = std::int32_t[kLanes];

// Lane indices for the shuffles below, built once at compile time.
struct Indices {
  // Split 16 (u, v) pairs held in two registers into u and v.
  alignas(64) Lanes u{};
  alignas(64) Lanes v{};
  alignas(64) Lanes iota{};
  // The (u, v) pairs of a run from (0, 0): (0, 0), (1, 0), ... in two registers.
  alignas(64) Lanes run_step[2]{};
  // Interleave 16 x, 16 y and 16 z values into 48 floats x0 y0 z0 x1 ...: for each output
  // register, x and y are picked first (x from lanes 0-15, y from 16-31), then z replaces
  // every third lane.
  alignas(64) Lanes xy[3]{};
  alignas(64) Lanes z[3]{};
  // The same when no point was dropped, from P = (x0-7, y0-7), Q = (z0-15) and
  // R = (x8-15, y8-15): output 0 is P and Q shuffled, output 2 is R and Q, and output 1 is
  // P and R shuffled (x and y), then Q (z).
  alignas(64) Lanes from_pq{};
  alignas(64) Lanes from_pr{};
  alignas(64) Lanes then_q{};
  alignas(64) Lanes from_rq{};
};

constexpr Indices indices() {
  Indices in{};
  for (int i = 0; i < kLanes; ++i) {
    in.iota[i] = i;
    in.u[i] = 2 * i;
    in.v[i] = 2 * i + 1;
    in.run_step[i / 8][i % 8 * 2] = i;
  }
  for (int o = 0; o < 3; ++o) {
    for (int j = 0; j < kLanes; ++j) {
      const int point = (kLanes * o + j) / 3;
      const int coordinate = (kLanes * o + j) % 3;
      in.xy[o][j] = coordinate == 1 ? kLanes + point : point;
      in.z[o][j] = coordinate == 2 ? kLanes + point : j;
    }
  }
  for (int j = 0; j < kLanes; ++j) {
    // Output o holds floats 16 o + j: coordinate (16 o + j) % 3 of point (16 o + j) / 3.
    const int p0 = j / 3;  // output 0: points 0-5, x and y in P
    const int c0 = j % 3;
    in.from_pq[j] = c0 == 2 ? kLanes + p0 : (c0 == 0 ? p0 : 8 + p0);
    const int p1 = (kLanes + j) / 3;  // output 1: points 5-10, x and y in P or R
    const int c1 = (kLanes + j) % 3;
    const int in_p_or_r = p1 < 8 ? p1 : kLanes + p1 - 8;
    in.from_pr[j] = c1 == 2 ? 0 : (c1 == 0 ? in_p_or_r : in_p_or_r + 8);
    in.then_q[j] = c1 == 2 ? kLanes + p1 : j;
    const int p2 = (2 * kLanes + j) / 3;  // output 2: points 10-15, x and y in R
    const int c2 = (2 * kLanes + j) % 3;
    in.from_rq[j] = c2 == 2 ? kLanes + p2 : (c2 == 0 ? p2 - 8 : p2);
  }
  return in;
}

constexpr Indices kIndices = indices();

VANTOREL_AVX512_STEP __m512i indexVector(const Lanes& lanes) {
  return _mm512_load_si512(lanes);
}

// Per-output-row factors: factor = a (u - cx) + b (v - cy) + c, coordinate = d factor + t.
struct Coefficients {
  Lift lift;
  __m512d cx, cy;
  __m512d a[3], b[3], c[3], t[3];
  __m512d lane[2];  // 0-7 and 8-15
};

VANTOREL_AVX512_STEP Coefficients broadcast(const Lift& lift) {
  Coefficients k;
  k.lift = lift;
  k.cx = _mm512_set1_pd(lift.cx);
  k.cy = _mm512_set1_pd(lift.cy);
  k.lane[0] = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
  k.lane[1] = _mm512_setr_pd(8, 9, 10, 11, 12, 13, 14, 15);
  for (int r = 0; r < 3; ++r) {
    const auto i = static_cast<std::size_t>(r);
    k.a[r] = _mm512_set1_pd(lift.a[i]);
    k.b[r] = _mm512_set1_pd(lift.b[i]);
    k.c[r] = _mm512_set1_pd(lift.c[i]);
    k.t[r] = _mm512_set1_pd(lift.t[i]);
  }
  return k;
}

// Factors for the low (pixels 0-7) and high (8-15) halves of each output row.
using Factors = __m512d[3][2];
// Depths of pixels 0-7 and 8-15, in the sample's own unit.
using Depths = __m512d[2];

VANTOREL_AVX512_STEP __m512d lowToDouble(__m512i x) {
  return _mm512_cvtepi32_pd(_mm512_castsi512_si256(x));
}

VANTOREL_AVX512_STEP __m512d highToDouble(__m512i x) {
  return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(x, 1));
}

VANTOREL_AVX512_STEP void factorsOfPixels(const Coefficients& k, __m512i u, __m512i v, Factors& f) {
  const __m512d du[2] = {_mm512_sub_pd(lowToDouble(u), k.cx), _mm512_sub_pd(highToDouble(u), k.cx)};
  const __m512d dv[2] = {_mm512_sub_pd(lowToDouble(v), k.cy), _mm512_sub_pd(highToDouble(v), k.cy)};
  for (int r = 0; r < 3; ++r) {
    for (int h = 0; h < 2; ++h) {
      f[r][h] = _mm512_fmadd_pd(k.a[r], du[h], _mm512_fmadd_pd(k.b[r], dv[h], k.c[r]));
    }
  }
}

// The row terms b (v - cy) + c of the row of the last run: whole frames and masks hold
// many runs along one row in a row.
struct RowTerms {
  bool known = false;
  int v = 0;
  __m512d term[3];
};

// Along a run the row term is one number per output row and u - cx grows by 1 per lane.
VANTOREL_AVX512_STEP void factorsOfRun(const Coefficients& k, int u0, int v0, RowTerms& rows,
                                       Factors& f) {
  if (!rows.known || rows.v != v0) {
    const __m512d dv = _mm512_set1_pd(v0 - k.lift.cy);
    for (int r = 0; r < 3; ++r) {
      rows.term[r] = _mm512_fmadd_pd(k.b[r], dv, k.c[r]);
    }
    rows.known = true;
    rows.v = v0;
  }
  const __m512d du0 = _mm512_set1_pd(u0 - k.lift.cx);
  const __m512d du[2] = {_mm512_add_pd(du0, k.lane[0]), _mm512_add_pd(du0, k.lane[1])};
  for (int r = 0; r < 3; ++r) {
    f[r][0] = _mm512_fmadd_pd(k.a[r], du[0], rows.term[r]);
    f[r][1] = _mm512_fmadd_pd(k.a[r], du[1], rows.term[r]);
  }
}

// Coordinate r of 16 points, in double precision, rounded to float once at the end.
struct Coordinates {
  __m256 low[3];   // x, y, z of points 0-7
  __m256 high[3];  // and of 8-15
};

VANTOREL_AVX512_STEP Coordinates coordinates(const Coefficients& k, const Factors& f,
                                             const Depths& d) {
  Coordinates c;
  for (int r = 0; r < 3; ++r) {
    c.low[r] = _mm512_cvtpd_ps(_mm512_fmadd_pd(d[0], f[r][0], k.t[r]));
    c.high[r] = _mm512_cvtpd_ps(_mm512_fmadd_pd(d[1], f[r][1], k.t[r]));
  }
  return c;
}

VANTOREL_AVX512_STEP __m512 join(__m256 low, __m256 high) {
  return _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1);
}

VANTOREL_AVX512_STEP __mmask16 firstLanes(unsigned count) {
  return count >= 16 ? __mmask16(0xFFFF) : static_cast<__mmask16>((1u << count) - 1u);
}

// Ask for the line `ahead` bytes past `from`, which may lie past the end of its array (a
// prefetch never faults). The hardware prefetchers alone leave the loop waiting on the pixel
// list it reads and on the lines of the result it writes: each prefetch below saves 5 to 10%
// of a whole frame here.
VANTOREL_AVX512_STEP void prefetchForRead(const void* from, std::uintptr_t ahead) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(from) + ahead),
               _MM_HINT_T0);
}

VANTOREL_AVX512_STEP void prefetchForWrite(const void* from, std::uintptr_t ahead) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(from) + ahead),
               _MM_HINT_ET0);
}

constexpr std::uintptr_t kPixelPrefetchBytes = 512;  // four steps ahead

// Where the floats of the kept points go: straight to memory at a cursor, or through a
// LineStreamer. put(x, n) appends the first n (1 to 16) floats of x.
class DirectOut {
 public:
  explicit DirectOut(ProjectedPoint* out) : cursor_(reinterpret_cast<float*>(out)) {}

  VANTOREL_AVX512_STEP void put(__m512 x, unsigned n) {
    prefetchForWrite(cursor_, kPrefetchBytes);
    if (n == kLanes) {
      _mm512_storeu_ps(cursor_, x);
    } else {
      _mm512_mask_storeu_ps(cursor_, firstLanes(n), x);
    }
    cursor_ += n;
  }

 private:
  static constexpr std::uintptr_t kPrefetchBytes = 1024;  // five steps ahead
  float* cursor_;
};

// Writes the floats of a result as whole, aligned 64-byte lines with non-temporal stores,
// which do not read each line into the cache only to overwrite it. The floats still to be
// written are carried in the top lanes of the register last appended; each new register
// and the carried floats are shifted together into one line.
class LineStreamer {
 public:
  VANTOREL_AVX512_STEP explicit LineStreamer(ProjectedPoint* out)
      : begin_(reinterpret_cast<float*>(out)),
        line_(begin_ - reinterpret_cast<std::uintptr_t>(begin_) % 64 / sizeof(float)),
        pending_(_mm512_setzero_ps()),
        carried_(static_cast<unsigned>(begin_ - line_)),  // lanes before the result, not written
        iota_(indexVector(kIndices.iota)),
        take_(shiftBy(kLanes - static_cast<int>(carried_))) {}

  VANTOREL_AVX512_STEP void put(__m512 x, unsigned n) {
    if (n == kLanes) {  // every full register of every block without dropped points
      emit(_mm512_permutex2var_ps(pending_, take_, x));
      pending_ = x;
      return;
    }
    if (carried_ + n >= kLanes) {
      emit(_mm512_permutex2var_ps(pending_, take_, x));
      pending_ = _mm512_permutexvar_ps(shiftBy(static_cast<int>(n) - kLanes), x);  // to the top
      carried_ = carried_ + n - kLanes;
    } else {
      pending_ = _mm512_permutex2var_ps(pending_, shiftBy(static_cast<int>(n)), x);
      carried_ += n;
    }
    take_ = shiftBy(kLanes - static_cast<int>(carried_));
  }

  // Writes the carried floats and orders the streamed stores before any later store, so
  // that another thread handed the result sees all of it.
  VANTOREL_AVX512_STEP void finish() {
    __mmask16 lanes = firstLanes(carried_);
    if (line_ < begin_) {  // nothing emitted yet: the line also holds bytes before the result
      lanes &= static_cast<__mmask16>(~firstLanes(static_cast<unsigned>(begin_ - line_)));
    }
    _mm512_mask_storeu_ps(line_, lanes, _mm512_permutex2var_ps(pending_, take_, pending_));
    _mm_sfence();
  }

 private:
  // Lane indices i + shift into the 32 lanes of two registers.
  VANTOREL_AVX512_STEP __m512i shiftBy(int shift) const {
    return _mm512_add_epi32(iota_, _mm512_set1_epi32(shift));
  }

  VANTOREL_AVX512_STEP void emit(__m512 line) {
    if (line_ < begin_) {  // the first line starts before the result: its tail only
      const auto skipped = static_cast<unsigned>(begin_ - line_);
      _mm512_mask_storeu_ps(line_, static_cast<__mmask16>(~firstLanes(skipped)), line);
    } else {
      _mm512_stream_ps(line_, line);
    }
    line_ += kLanes;
  }

  float* begin_;
  float* line_;  // the 64-byte aligned address the next line goes to
  __m512 pending_;
  unsigned carried_;  // floats in the top lanes of pending_ not yet written
  __m512i iota_;
  __m512i take_;  // carried floats, then the new register's, into one line
};

// The points of 16 pixels, none dropped: three full registers.
template <typename Out>
VANTOREL_AVX512_STEP void putAll(const Coordinates& c, Out& out) {
  const __m512 p = join(c.low[0], c.low[1]);
  const __m512 q = join(c.low[2], c.high[2]);
  const __m512 r = join(c.high[0], c.high[1]);
  const __m512 xy_middle = _mm512_permutex2var_ps(p, indexVector(kIndices.from_pr), r);
  out.put(_mm512_permutex2var_ps(p, indexVector(kIndices.from_pq), q), kLanes);
  out.put(_mm512_permutex2var_ps(xy_middle, indexVector(kIndices.then_q), q), kLanes);
  out.put(_mm512_permutex2var_ps(r, indexVector(kIndices.from_rq), q), kLanes);
}

// The kept points, compacted; returns their number.
template <typename Out>
VANTOREL_AVX512_STEP unsigned putKept(const Coordinates& c, __mmask16 keep, Out& out) {
  if (keep == 0xFFFF) {
    putAll(c, out);
    return kLanes;
  }
  const __m512 x = _mm512_maskz_compress_ps(keep, join(c.low[0], c.high[0]));
  const __m512 y = _mm512_maskz_compress_ps(keep, join(c.low[1], c.high[1]));
  const __m512 z = _mm512_maskz_compress_ps(keep, join(c.low[2], c.high[2]));
  const unsigned kept = static_cast<unsigned>(__builtin_popcount(keep));
  const unsigned floats = 3 * kept;
  for (unsigned o = 0; 16 * o < floats; ++o) {
    const __m512 xy = _mm512_permutex2var_ps(x, indexVector(kIndices.xy[o]), y);
    const __m512 xyz = _mm512_permutex2var_ps(xy, indexVector(kIndices.z[o]), z);
    out.put(xyz, std::min(floats - 16 * o, 16u));
  }
  return kept;
}

// How 16 depth samples of each kind are read, windowed and widened to double.
template <typename Sample>
struct Samples;

// Raw 16-bit depth. The window is held as 16-bit bounds lo <= hi (a window that keeps no
// 16-bit value never reaches here), so one unsigned comparison tests both ends:
// d - lo <= hi - lo, modulo 2^16.
template <>
struct Samples<std::uint16_t> {
  using View = DepthView<std::uint16_t>;

  struct Window {
    __m256i lo16, span16;  // for runs, 16-bit lanes
    __m512i lo32, span32;  // for gathers, 32-bit lanes
  };

  static bool keepsNothing(const View& view) {
    return view.min_depth > view.max_depth || view.max_depth < 0 || view.min_depth > 65535;
  }

  VANTOREL_AVX512_STEP static Window window(const View& view) {
    const int lo = std::max(view.min_depth, 0);
    const int hi = std::min(view.max_depth, 65535);
    return {_mm256_set1_epi16(static_cast<short>(lo)),
            _mm256_set1_epi16(static_cast<short>(hi - lo)), _mm512_set1_epi32(lo),
            _mm512_set1_epi32(hi - lo)};
  }

  // Sixteen depths of a run inside the image, read with one plain load.
  VANTOREL_AVX512_STEP static __mmask16 run(const Window& w, const std::uint16_t* first,
                                            Depths& d) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
    d[0] = _mm512_cvtepi64_pd(
        _mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))));
    d[1] = _mm512_cvtepi64_pd(
        _mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8))));
    return _mm256_cmple_epu16_mask(_mm256_sub_epi16(raw, w.lo16), w.span16);
  }

  // The gather reads 32 bits per lane; the very last pixel of the image is read together
  // with the one before it, so no lane reads past the image.
  VANTOREL_AVX512_STEP static __mmask16 gather(const View& view, const Window& w, __mmask16 inside,
                                               __m512i offset, Depths& d) {
    const auto last_offset = static_cast<std::int32_t>(
        (static_cast<std::size_t>(view.rows) - 1) * view.row_stride + view.cols - 1);
    const __mmask16 at_end =
        _mm512_mask_cmpeq_epi32_mask(inside, offset, _mm512_set1_epi32(last_offset));
    offset = _mm512_mask_sub_epi32(offset, at_end, offset, _mm512_set1_epi32(1));
    __m512i depth = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inside, offset,
                                                static_cast<const void*>(view.data), 2);
    depth = _mm512_mask_srli_epi32(depth, at_end, depth, 16);
    depth = _mm512_and_si512(depth, _mm512_set1_epi32(0xFFFF));
    d[0] = lowToDouble(depth);
    d[1] = highToDouble(depth);
    return _mm512_mask_cmple_epu32_mask(inside, _mm512_sub_epi32(depth, w.lo32), w.span32);
  }
};

// Float metres. Ordered comparisons: NaN is outside every window.
template <>
struct Samples<float> {
  using View = DepthView<float>;

  struct Window {
    __m512 lo, hi;
  };

  static bool keepsNothing(const View& view) { return !(view.min_depth <= view.max_depth); }

  VANTOREL_AVX512_STEP static Window window(const View& view) {
    return {_mm512_set1_ps(view.min_depth), _mm512_set1_ps(view.max_depth)};
  }

  VANTOREL_AVX512_STEP static __mmask16 inWindow(const Window& w, __mmask16 inside, __m512 depth) {
    return _mm512_mask_cmp_ps_mask(inside, depth, w.lo, _CMP_GE_OQ) &
           _mm512_mask_cmp_ps_mask(inside, depth, w.hi, _CMP_LE_OQ);
  }

  VANTOREL_AVX512_STEP static __mmask16 run(const Window& w, const float* first, Depths& d) {
    d[0] = _mm512_cvtps_pd(_mm256_loadu_ps(first));
    d[1] = _mm512_cvtps_pd(_mm256_loadu_ps(first + 8));
    return inWindow(w, 0xFFFF, _mm512_loadu_ps(first));
  }

  VANTOREL_AVX512_STEP static __mmask16 gather(const View& view, const Window& w, __mmask16 inside,
                                               __m512i offset, Depths& d) {
    const __m512 depth = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), inside, offset,
                                                  static_cast<const void*>(view.data), 4);
    d[0] = _mm512_cvtps_pd(_mm512_castps512_ps256(depth));
    d[1] = _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(depth), 1)));
    return inWindow(w, inside, depth);
  }
};

template <typename Sample>
struct Block {
  const DepthView<Sample>& view;
  typename Samples<Sample>::Window window;
  Coefficients k;
};

// Sixteen pixels (u0 + i, v0) inside the image, as pixel lists taken from masks or whole
// frames mostly are.
template <typename Sample, typename Out>
VANTOREL_AVX512_STEP unsigned projectRun(const Block<Sample>& block, int u0, int v0, RowTerms& rows,
                                         Out& out) {
  const DepthView<Sample>& view = block.view;
  Depths d;
  const __mmask16 keep = Samples<Sample>::run(
      block.window, view.data + static_cast<std::size_t>(v0) * view.row_stride + u0, d);
  if (keep == 0) {
    return 0;
  }
  Factors f;
  factorsOfRun(block.k, u0, v0, rows, f);
  return putKept(coordinates(block.k, f, d), keep, out);
}

// Up to 16 pixels anywhere, given as loaded (u, v) pairs (pixels 0-7 and 8-15).
template <typename Sample, typename Out>
VANTOREL_AVX512_STEP unsigned projectScattered(const Block<Sample>& block, __m512i first,
                                               __m512i second, unsigned count, Out& out) {
  const DepthView<Sample>& view = block.view;
  const __m512i u = _mm512_permutex2var_epi32(first, indexVector(kIndices.u), second);
  const __m512i v = _mm512_permutex2var_epi32(first, indexVector(kIndices.v), second);
  // Unsigned comparison also sends negative coordinates out.
  const __mmask16 inside =
      firstLanes(count) &
      _mm512_cmplt_epu32_mask(u, _mm512_set1_epi32(static_cast<int>(view.cols))) &
      _mm512_cmplt_epu32_mask(v, _mm512_set1_epi32(static_cast<int>(view.rows)));
  const __m512i offset = _mm512_add_epi32(
      _mm512_mullo_epi32(v, _mm512_set1_epi32(static_cast<int>(view.row_stride))), u);
  Depths d;
  const __mmask16 keep = Samples<Sample>::gather(view, block.window, inside, offset, d);
  if (keep == 0) {
    return 0;
  }
  Factors f;
  factorsOfPixels(block.k, u, v, f);
  return putKept(coordinates(block.k, f, d), keep, out);
}

// Whether 16 loaded (u, v) pairs are (u0 + i, v0) for the first pair's u0, v0.
VANTOREL_AVX512_STEP bool isRun(const std::array<int, 2>* pixels, __m512i first, __m512i second) {
  std::int64_t pair;
  __builtin_memcpy(&pair, pixels->data(), sizeof(pair));
  const __m512i start = _mm512_set1_epi64(pair);
  const __mmask16 low =
      _mm512_cmpeq_epi32_mask(first, _mm512_add_epi32(start, indexVector(kIndices.run_step[0])));
  const __mmask16 high =
      _mm512_cmpeq_epi32_mask(second, _mm512_add_epi32(start, indexVector(kIndices.run_step[1])));
  return (low & high) == 0xFFFF;
}

template <typename Sample>
VANTOREL_AVX512_STEP bool runInside(const DepthView<Sample>& view, int u0, int v0) {
  return u0 >= 0 && static_cast<std::int64_t>(u0) + kLanes <= view.cols &&
         static_cast<std::uint32_t>(v0) < view.rows;
}

// Projects up to 16 pixels and puts the kept ones, compacted, out; returns their number.
template <typename Sample, typename Out>
VANTOREL_AVX512_STEP unsigned projectSixteen(const Block<Sample>& block,
                                             const std::array<int, 2>* pixels, unsigned count,
                                             RowTerms& rows, Out& out) {
  const int* raw_pixels = pixels->data();
  if (count == kLanes) {
    const __m512i first = _mm512_loadu_si512(raw_pixels);
    const __m512i second = _mm512_loadu_si512(raw_pixels + kLanes);
    const int u0 = pixels[0][0];
    const int v0 = pixels[0][1];
    if (isRun(pixels, first, second) && runInside(block.view, u0, v0)) {
      return projectRun(block, u0, v0, rows, out);
    }
    return projectScattered(block, first, second, count, out);
  }
  const __m512i first = _mm512_maskz_loadu_epi32(firstLanes(2 * std::min(count, 8u)), raw_pixels);
  // The second half is addressed only when it exists.
  const __m512i second =
      count > 8 ? _mm512_maskz_loadu_epi32(firstLanes(2 * (count - 8)), raw_pixels + kLanes)
                : _mm512_setzero_si512();
  return projectScattered(block, first, second, count, out);
}

template <typename Sample, typename Out>
VANTOREL_AVX512_STEP std::size_t projectList(const std::array<int, 2>* pixels, std::size_t count,
                                             const DepthView<Sample>& view, const Lift& lift,
                                             Out& out) {
  if (Samples<Sample>::keepsNothing(view)) {
    return 0;
  }
  const Block<Sample> block{view, Samples<Sample>::window(view), broadcast(lift)};
  RowTerms rows;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; i += kLanes) {
    const auto lanes = static_cast<unsigned>(std::min<std::size_t>(kLanes, count - i));
    prefetchForRead(pixels + i, kPixelPrefetchBytes);
    kept += projectSixteen(block, pixels + i, lanes, rows, out);
  }
  return kept;
}

template <typename Sample>
VANTOREL_AVX512_STEP std::size_t projectInPlace(const std::array<int, 2>* pixels, std::size_t count,
                                                const DepthView<Sample>& view, const Lift& lift,
                                                ProjectedPoint* out) {
  DirectOut direct(out);
  return projectList(pixels, count, view, lift, direct);
}

template <typename Sample>
VANTOREL_AVX512_STEP std::size_t streamList(const std::array<int, 2>* pixels, std::size_t count,
                                            const DepthView<Sample>& view, const Lift& lift,
                                            ProjectedPoint* out) {
  LineStreamer streamer(out);
  const std::size_t kept = projectList(pixels, count, view, lift, streamer);
  streamer.finish();
  return kept;
}

}  // namespace

template <typename Sample>
bool avx512ProjectionUsable(const DepthView<Sample>& view) {
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vl") || !__builtin_cpu_supports("avx512dq")) {
    return false;
  }
  if (view.rows == 0 || view.cols == 0) {
    return false;
  }
  // 32-bit element offsets, and for 16-bit samples at least two elements for the paired
  // read at the end.
  const std::uint64_t last =
      (static_cast<std::uint64_t>(view.rows) - 1) * view.row_stride + view.cols - 1;
  const std::uint64_t fewest = std::is_same_v<Sample, float> ? 0 : 1;
  return last >= fewest &&
         last <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
}

template bool avx512ProjectionUsable(const DepthView<std::uint16_t>&);
template bool avx512ProjectionUsable(const DepthView<float>&);
VANTOREL_AVX512 std::size_t projectListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                                              const DepthView<std::uint16_t>& view,
                                              const Lift& lift, ProjectedPoint* out) {
  return projectInPlace(pixels, count, view, lift, out);
}

VANTOREL_AVX512 std::size_t projectListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                                              const DepthView<float>& view, const Lift& lift,
                                              ProjectedPoint* out) {
  return projectInPlace(pixels, count, view, lift, out);
}

VANTOREL_AVX512 std::size_t streamListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                                             const DepthView<std::uint16_t>& view, const Lift& lift,
                                             ProjectedPoint* out) {
  return streamList(pixels, count, view, lift, out);
}

VANTOREL_AVX512 std::size_t streamListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                                             const DepthView<float>& view, const Lift& lift,
                                             ProjectedPoint* out) {
  return streamList(pixels, count, view, lift, out);
}

}  // namespace projection_kernel
}  // namespace vantorel_base_utils

#endif
