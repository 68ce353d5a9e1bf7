// SPDX-License-Identifier: Apache-2.0
// The exact search of SetCoverSolver<T>::bbSearch and solveByPropagate.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__BRANCH_AND_BOUND_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__BRANCH_AND_BOUND_HPP_

#include <vector>

#include "optimization/deadline.hpp"

namespace vantorel_base_utils {
namespace detail {

struct SearchLimits {
  Deadline deadline;
  long long max_nodes = 0;  // 0: no limit
  // Look for covers smaller than the incumbent by heuristics: from the first node's
  // multipliers, and by local search once `refine_after_nodes` nodes have been searched
  // (then after 4, 16, ... times as many). Only affects how fast the search is, never its
  // result.
  bool seek_incumbent = false;
  long long refine_after_nodes = 1000;
};

struct SearchReport {
  long long nodes = 0;
  bool finished = true;  // false: a limit ended the search early
  // No cover that extends the starting selection has fewer candidates.
  int lower_bound = 0;
  // The bound at the first node (selected candidates included), -1 when none was computed.
  int root_bound = -1;
  // A cover smaller than the incumbent that the heuristic found (candidate indices), empty
  // when none. The finished search always reaches a cover at least as small.
  std::vector<int> heuristic_cover;
};

// Searches below the current state of `ctx` (a SetCoverSolver<T>::PropCtx) for a cover with
// fewer than `best_size` candidates, improving `best_size` and `best_sol` in place, and
// leaves `ctx` as it found it. Provided for the solvers of int, std::string and unsigned
// long elements. Throws DeadlinePassed when the deadline passes while the search is being set
// up (best_size and best_sol unchanged); once searching, it stops as a limit says and
// reports it.
template <typename Solver>
SearchReport branchAndBound(typename Solver::PropCtx& ctx, int& best_size,
                            std::vector<int>& best_sol, const SearchLimits& limits);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__BRANCH_AND_BOUND_HPP_
