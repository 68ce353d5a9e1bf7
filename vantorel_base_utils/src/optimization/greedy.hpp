// SPDX-License-Identifier: Apache-2.0
// The greedy set cover over a dense instance.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__GREEDY_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__GREEDY_HPP_

#include <vector>

#include "optimization/deadline.hpp"
#include "optimization/dense_instance.hpp"

namespace vantorel_base_utils {
namespace detail {

// The ids that solveByGreedy returns for the instance `d` was numbered from, ascending.
// Throws DeadlinePassed when `deadline` passes first. With `complete`, tells whether the ids
// cover every element: a negative id that wins a pick ends the picking early.
std::vector<int> greedyCover(const DenseInstance& d, bool prefer_nearby,
                             const Deadline& deadline = Deadline(), bool* complete = nullptr);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__GREEDY_HPP_
