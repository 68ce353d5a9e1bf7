// SPDX-License-Identifier: Apache-2.0
// The AVX-512 variant of the pixel projection loop, chosen at run time on CPUs that have it.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_AVX512_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_AVX512_HPP_

#include "geometry/projection_kernel.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VANTOREL_HAVE_AVX512_PROJECTION 1
#else
#define VANTOREL_HAVE_AVX512_PROJECTION 0
#endif

namespace vantorel_base_utils {
namespace projection_kernel {

#if VANTOREL_HAVE_AVX512_PROJECTION
// Whether this CPU has the instructions and the image is small enough for 32-bit offsets.
template <typename Sample>
bool avx512ProjectionUsable(const DepthView<Sample>& view);

// ListProjectors, in place and streamed (plain overloads rather than templates: the
// compiler applies the instruction set to each definition).
std::size_t projectListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                              const DepthView<std::uint16_t>& view, const Lift& lift,
                              ProjectedPoint* out);
std::size_t projectListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                              const DepthView<float>& view, const Lift& lift, ProjectedPoint* out);
std::size_t streamListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                             const DepthView<std::uint16_t>& view, const Lift& lift,
                             ProjectedPoint* out);
std::size_t streamListAvx512(const std::array<int, 2>* pixels, std::size_t count,
                             const DepthView<float>& view, const Lift& lift, ProjectedPoint* out);
#endif

}  // namespace projection_kernel
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__PROJECTION_KERNEL_AVX512_HPP_
