// SPDX-License-Identifier: Apache-2.0
// The covering program of solveILP within time and node limits, for the limited overload of
// SetCoverSolver<T>::solveByILP.
#ifndef OPTIMIZATION__ILP_HPP_
#define OPTIMIZATION__ILP_HPP_

#include <vector>

#include "vantorel_base_utils/set_cover.hpp"

namespace vantorel_base_utils {
namespace detail {

struct IlpOutcome {
  std::vector<int> chosen;   // the best columns found, ascending; empty when none
  int lower_bound = 0;       // no choice has fewer columns
  bool optimal = false;      // chosen is proven minimal
  long long nodes = 0;       // GLPK's branch-and-bound nodes
  double relaxation = -1.0;  // the LP relaxation's optimum, -1 when not solved
};

// solveILP with GLPK's time limit and a node limit from `options`. A limit that stops GLPK
// is no failure; a failure writes solveILP's line and gives an empty choice.
IlpOutcome solveILPWithin(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                          const SetCoverOptions& options);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // OPTIMIZATION__ILP_HPP_
