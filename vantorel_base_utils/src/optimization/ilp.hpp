// SPDX-License-Identifier: Apache-2.0
// The covering program of solveILP within a deadline and a node limit, starting from a given
// cover, for the limited overload of SetCoverSolver<T>::solveByILP.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__ILP_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__ILP_HPP_

#include <vector>

#include "optimization/deadline.hpp"

namespace vantorel_base_utils {
namespace detail {

struct IlpLimits {
  Deadline deadline;
  long long node_limit = 0;  // GLPK's branch-and-bound nodes; 0: none
  std::vector<int> start;    // columns of a cover offered to GLPK as its first incumbent
};

struct IlpOutcome {
  std::vector<int> chosen;   // the best columns found, ascending; empty when none
  int lower_bound = 0;       // no choice has fewer columns
  bool optimal = false;      // chosen is proven minimal
  bool stopped = false;      // a limit ended GLPK's work early
  long long nodes = 0;       // GLPK's branch-and-bound nodes
  double relaxation = -1.0;  // the LP relaxation's optimum, -1 when not solved
};

// solveILP within `limits`. The matrix is loaded and the search run so that the deadline is
// kept also for programs of millions of entries. A limit that stops GLPK is no failure; a
// failure writes solveILP's line and gives an empty choice. GLPK ends with a cover no larger
// than `limits.start` once it has bounded its first node; before that it may have none.
IlpOutcome solveILPWithin(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                          const IlpLimits& limits);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__ILP_HPP_
