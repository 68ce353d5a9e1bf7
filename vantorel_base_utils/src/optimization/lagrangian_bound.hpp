// SPDX-License-Identifier: Apache-2.0
// Lower bounds for the exact set cover search: the Lagrangian relaxation of the covering
// constraints, maximised by subgradient steps, which approaches the LP relaxation's bound.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__LAGRANGIAN_BOUND_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__LAGRANGIAN_BOUND_HPP_

#include <vector>

#include "optimization/deadline.hpp"
#include "optimization/dense_instance.hpp"

namespace vantorel_base_utils {
namespace detail {

// How hard one evaluation tries: at most `iterations` subgradient steps, the first of length
// `step` (a fraction of the Polyak step), halved after `patience` steps without progress,
// until it falls below `min_step`.
struct BoundEffort {
  int iterations = 0;
  double step = 0.0;
  int patience = 0;
  double min_step = 0.0;
};

// One node's relaxation: choose as few usable candidates as possible so that every open
// element is covered. For multipliers u >= 0 on the elements,
//   L(u) = sum of u_e + sum over candidates c of min(0, 1 - sum of u_e over e in c)
// is at most the LP optimum, so at most the size of any cover (weak duality). Two reductions
// keep L(u) valid and make it larger: an open element whose candidates include all those of
// another open element is dropped (covering the smaller one covers it), and a candidate whose
// elements lie within those of another candidate is left out (the other one can stand in;
// see the search for why this holds for excluded stand-ins too). An element with a single
// usable candidate forces that candidate, counted apart in forced().
class LagrangianBound {
 public:
  // `cand_elems` lists each candidate's elements, `elem_cands` each element's candidates
  // (its transpose). Both must outlive the bound. Throws DeadlinePassed when `deadline`
  // passes while the dominated elements and candidates are being found.
  LagrangianBound(const Incidence& cand_elems, const Incidence& elem_cands,
                  const Deadline& deadline);

  // Evaluates the node given by `open` (per element) and `usable` (per candidate). `u` holds
  // the multipliers to start from and receives the best ones found. Stops early once
  // forced() + ceil(value()) reaches `target`, or when `deadline` passes (the bound then
  // holds, only weaker). Returns false when some open element has no usable candidate (no
  // cover exists).
  bool evaluate(const std::vector<char>& open, const std::vector<char>& usable, int target,
                const BoundEffort& effort, const Deadline& deadline, std::vector<double>& u);

  // The node's bound after evaluate(): forced() + value() candidates at least.
  int forced() const { return forced_count_; }
  double value() const { return best_value_; }
  // Lower bound on the candidates needed beyond the forced ones, rounded up.
  int neededBeyondForced() const;

  // What selecting usable candidate c adds to the bound: max(0, reduced cost). Zero for a
  // forced candidate (already counted) and for a left-out one.
  double extraIfSelected(int cand) const;
  // What excluding usable candidate c adds to the bound: -min(0, reduced cost) for a
  // candidate in the relaxation, 0 for a left-out one; a forced candidate cannot be excluded
  // (every cover below needs it), reported by isForced().
  double extraIfExcluded(int cand) const;
  bool isForced(int cand) const { return forced_[static_cast<std::size_t>(cand)] != 0; }
  // 1 minus the best multipliers of the candidate's elements in the relaxation; a forced
  // candidate reports the lowest double.
  double reducedCost(int cand) const;

 private:
  void findDominatedElements(const Deadline& deadline);
  void findDominatedCandidates(const Deadline& deadline);
  bool buildRelaxation(const std::vector<char>& open, const std::vector<char>& usable);
  void collectRelaxation(const std::vector<char>& open, const std::vector<char>& usable);
  void forceSingles();
  double lagrangianValue(const std::vector<double>& u);
  void subgradientAscent(int target, const BoundEffort& effort, const Deadline& deadline,
                         std::vector<double>& u);
  void reducedCosts(const std::vector<double>& u);

  const Incidence& cand_elems_;
  const Incidence& elem_cands_;
  std::vector<int> element_dominator_;     // an element with a subset of the candidates, or -1
  std::vector<char> candidate_dominated_;  // another candidate covers a superset

  // The relaxation of the last evaluated node, over compact element positions.
  std::vector<int> position_;    // per element: compact position, or -1 when not in it
  std::vector<int> elements_;    // per position: the element
  std::vector<int> rows_begin_;  // per relaxed candidate: its positions in rows_
  std::vector<int> rows_;
  std::vector<int> relaxed_;  // the relaxed candidates
  std::vector<char> forced_;  // per candidate
  int forced_count_ = 0;
  std::vector<char> covered_by_forced_;  // per element
  std::vector<double> reduced_;          // per candidate, for the best multipliers
  std::vector<char> in_relaxation_;      // per candidate
  double best_value_ = 0.0;

  std::vector<double> u_;            // per position
  std::vector<double> subgradient_;  // per position
  std::vector<double> best_u_;       // per position
  std::vector<int> usable_count_;    // per position
  std::vector<int> last_usable_;     // per position
};

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__LAGRANGIAN_BOUND_HPP_
