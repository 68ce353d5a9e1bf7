// SPDX-License-Identifier: Apache-2.0
// Small covers from Lagrangian reduced costs, to give the exact search a tight cutoff early.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__COVER_HEURISTIC_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__COVER_HEURISTIC_HPP_

#include <vector>

#include "optimization/deadline.hpp"
#include "optimization/dense_instance.hpp"

namespace vantorel_base_utils {
namespace detail {

// A cover of the `open` elements by candidates with `usable` set, without redundant
// candidates: first the candidates with a negative reduced cost, then, for each element
// still open, its candidate that covers the most open elements (the smaller reduced cost on
// a tie); then candidates are dropped, largest reduced cost first, while the rest still
// cover. Empty when some open element has no usable candidate, or when `deadline` passes
// first.
std::vector<int> lagrangianCover(const Incidence& cand_elems, const Incidence& elem_cands,
                                 const std::vector<char>& open, const std::vector<char>& usable,
                                 const std::vector<double>& reduced, const Deadline& deadline);

// Looks for a smaller cover of the `open` elements by `usable` candidates than `start` (a
// cover of them), by a local search that swaps candidates in and out, guided by element
// weights that grow while an element stays uncovered. Runs `steps` swaps with random choices
// drawn from `seed`, fewer when `deadline` passes first; with the same steps the same inputs
// give the same result. Returns the smallest cover met (`start` when none was smaller), or an
// empty list when none was met (`start` is no cover, or the deadline passed before it was
// taken in).
std::vector<int> improveCover(const Incidence& cand_elems, const Incidence& elem_cands,
                              const std::vector<char>& open, const std::vector<char>& usable,
                              const std::vector<int>& start, long long steps, unsigned seed,
                              const Deadline& deadline);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__COVER_HEURISTIC_HPP_
