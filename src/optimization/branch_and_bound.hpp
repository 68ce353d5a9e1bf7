// The exact search of SetCoverSolver<T>::bbSearch and solveByPropagate.
#ifndef OPTIMIZATION__BRANCH_AND_BOUND_HPP_
#define OPTIMIZATION__BRANCH_AND_BOUND_HPP_

#include <vector>

namespace vantorel_base_utils {
namespace detail {

// Searches below the current state of `ctx` (a SetCoverSolver<T>::PropCtx) for a cover with
// fewer than `best_size` candidates, improving `best_size` and `best_sol` in place, and
// leaves `ctx` as it found it. Counts the visited nodes in `*nodes` when it is not null.
// Provided for the solvers of int, std::string and unsigned long elements.
template <typename Solver>
void branchAndBound(typename Solver::PropCtx& ctx, int& best_size, std::vector<int>& best_sol,
                    long long* nodes);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // OPTIMIZATION__BRANCH_AND_BOUND_HPP_
