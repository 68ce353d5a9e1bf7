// SPDX-License-Identifier: Apache-2.0
// Internal entry points of the set cover solver for measurements.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__SET_COVER_INTERNAL_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__SET_COVER_INTERNAL_HPP_

#include <map>
#include <set>
#include <vector>

#include "optimization/branch_and_bound.hpp"

namespace vantorel_base_utils {
namespace detail {

// solveByPropagate within `limits`, with what the search reports. The ids are the best cover
// found (the exact method's result when report.finished).
template <typename T>
std::vector<int> solveByPropagateReported(const std::map<int, std::set<T>>& candidates,
                                          const SearchLimits& limits, SearchReport& report);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__SET_COVER_INTERNAL_HPP_
