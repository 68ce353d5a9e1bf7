// SPDX-License-Identifier: Apache-2.0
// The Lagrangian lower bound of the exact set cover search.
#include "optimization/lagrangian_bound.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace vantorel_base_utils {
namespace detail {

namespace {

// Sums of multipliers carry rounding errors far below this; a bound within it of an integer
// is not rounded up past that integer.
constexpr double kRoundingMargin = 1e-6;

std::size_t at(int index) {
  return static_cast<std::size_t>(index);
}

}  // namespace

LagrangianBound::LagrangianBound(const Incidence& cand_elems, const Incidence& elem_cands,
                                 const Deadline& deadline)
    : cand_elems_(cand_elems),
      elem_cands_(elem_cands),
      position_(elem_cands.begin.size() - 1, -1),
      forced_(cand_elems.begin.size() - 1, 0),
      covered_by_forced_(elem_cands.begin.size() - 1, 0),
      reduced_(cand_elems.begin.size() - 1, 0.0),
      in_relaxation_(cand_elems.begin.size() - 1, 0) {
  findDominatedElements(deadline);
  findDominatedCandidates(deadline);
}

namespace {

std::size_t listLength(const Incidence& lists, int x) {
  return lists.begin[at(x) + 1] - lists.begin[at(x)];
}

// For item x of `lists`, counts in `shared[y]` how many entries of x's list also list y in
// `through` (the transpose of `lists`): the size of the overlap of x's and y's lists. The
// ys met are appended to `touched`. Returns the number of entries visited.
std::size_t countOverlaps(const Incidence& lists, const Incidence& through, int x,
                          std::vector<int>& shared, std::vector<int>& touched) {
  std::size_t visited = 0;
  for (std::size_t k = lists.begin[at(x)]; k < lists.begin[at(x) + 1]; ++k) {
    const int middle = lists.items[k];
    visited += through.begin[at(middle) + 1] - through.begin[at(middle)] + 1;
    for (std::size_t j = through.begin[at(middle)]; j < through.begin[at(middle) + 1]; ++j) {
      const int y = through.items[j];
      if (shared[at(y)]++ == 0) {
        touched.push_back(y);
      }
    }
  }
  return visited;
}

}  // namespace

// Element a dominates element b when a's candidates are a subset of b's: of two equal sets
// the smaller index dominates, so no two elements dominate each other. Each element keeps
// the dominator with the fewest candidates.
void LagrangianBound::findDominatedElements(const Deadline& deadline) {
  const int num_elems = static_cast<int>(elem_cands_.begin.size()) - 1;
  element_dominator_.assign(at(num_elems), -1);
  std::vector<int> shared(at(num_elems), 0);
  std::vector<int> touched;
  for (int b = 0; b < num_elems; ++b) {
    deadline.check(countOverlaps(elem_cands_, cand_elems_, b, shared, touched));
    const std::size_t degree_b = listLength(elem_cands_, b);
    std::size_t best_degree = degree_b + 1;
    for (const int a : touched) {
      const std::size_t degree_a = listLength(elem_cands_, a);
      const bool subset = static_cast<std::size_t>(shared[at(a)]) == degree_a;
      const bool before = degree_a < degree_b || (degree_a == degree_b && a < b);
      if (a != b && subset && before && degree_a < best_degree) {
        element_dominator_[at(b)] = a;
        best_degree = degree_a;
      }
      shared[at(a)] = 0;
    }
    touched.clear();
  }
}

// Candidate c is dominated when another candidate's elements include all of c's; of two
// equal sets the larger index is the dominated one.
void LagrangianBound::findDominatedCandidates(const Deadline& deadline) {
  const int num_cands = static_cast<int>(cand_elems_.begin.size()) - 1;
  candidate_dominated_.assign(at(num_cands), 0);
  std::vector<int> shared(at(num_cands), 0);
  std::vector<int> touched;
  for (int c = 0; c < num_cands; ++c) {
    const std::size_t size_c = listLength(cand_elems_, c);
    if (size_c == 0) {
      candidate_dominated_[at(c)] = num_cands > 1 ? 1 : 0;
      continue;
    }
    deadline.check(countOverlaps(cand_elems_, elem_cands_, c, shared, touched));
    for (const int d : touched) {
      const bool covers_all = static_cast<std::size_t>(shared[at(d)]) == size_c;
      if (d != c && covers_all && (listLength(cand_elems_, d) > size_c || d < c)) {
        candidate_dominated_[at(c)] = 1;
      }
      shared[at(d)] = 0;
    }
    touched.clear();
  }
}

bool LagrangianBound::evaluate(const std::vector<char>& open, const std::vector<char>& usable,
                               int target, const BoundEffort& effort, const Deadline& deadline,
                               std::vector<double>& u) {
  best_value_ = 0.0;
  if (!buildRelaxation(open, usable)) {
    return false;
  }
  subgradientAscent(target, effort, deadline, u);
  reducedCosts(u);
  return true;
}

int LagrangianBound::neededBeyondForced() const {
  return static_cast<int>(std::ceil(best_value_ - kRoundingMargin));
}

// A left-out candidate may be the one a forced candidate stands in for, so selecting it
// does not add its reduced cost to a bound that counts the forced one.
double LagrangianBound::extraIfSelected(int cand) const {
  if (isForced(cand) || candidate_dominated_[at(cand)] != 0) {
    return 0.0;
  }
  return std::max(0.0, reduced_[at(cand)]);
}

double LagrangianBound::reducedCost(int cand) const {
  return isForced(cand) ? std::numeric_limits<double>::lowest() : reduced_[at(cand)];
}

double LagrangianBound::extraIfExcluded(int cand) const {
  return in_relaxation_[at(cand)] != 0 ? -std::min(0.0, reduced_[at(cand)]) : 0.0;
}

// The open elements not dropped for an open dominator, and the usable candidates not
// dominated, restricted to those elements; then the candidates that single elements force,
// with what they cover taken out.
bool LagrangianBound::buildRelaxation(const std::vector<char>& open,
                                      const std::vector<char>& usable) {
  for (const int c : relaxed_) {
    in_relaxation_[at(c)] = 0;
  }
  for (std::size_t c = 0; c < forced_.size(); ++c) {
    forced_[c] = 0;
  }
  forced_count_ = 0;
  std::fill(covered_by_forced_.begin(), covered_by_forced_.end(), 0);
  collectRelaxation(open, usable);
  usable_count_.assign(elements_.size(), 0);
  last_usable_.assign(elements_.size(), -1);
  for (std::size_t r = 0; r < relaxed_.size(); ++r) {
    for (int k = rows_begin_[r]; k < rows_begin_[r + 1]; ++k) {
      ++usable_count_[at(rows_[at(k)])];
      last_usable_[at(rows_[at(k)])] = relaxed_[r];
    }
  }
  if (std::find(usable_count_.begin(), usable_count_.end(), 0) != usable_count_.end()) {
    return false;
  }
  forceSingles();
  return true;
}

void LagrangianBound::collectRelaxation(const std::vector<char>& open,
                                        const std::vector<char>& usable) {
  for (const int e : elements_) {
    position_[at(e)] = -1;
  }
  elements_.clear();
  for (std::size_t e = 0; e < open.size(); ++e) {
    const int dominator = element_dominator_[e];
    const bool dominated = dominator >= 0 && open[at(dominator)] != 0;
    if (open[e] != 0 && covered_by_forced_[e] == 0 && !dominated) {
      position_[e] = static_cast<int>(elements_.size());
      elements_.push_back(static_cast<int>(e));
    }
  }
  relaxed_.clear();
  rows_.clear();
  rows_begin_.assign(1, 0);
  for (std::size_t c = 0; c < usable.size(); ++c) {
    if (usable[c] == 0 || candidate_dominated_[c] != 0 || forced_[c] != 0) {
      continue;
    }
    const std::size_t first = rows_.size();
    for (std::size_t j = cand_elems_.begin[c]; j < cand_elems_.begin[c + 1]; ++j) {
      const int p = position_[at(cand_elems_.items[j])];
      if (p >= 0) {
        rows_.push_back(p);
      }
    }
    if (rows_.size() > first) {
      relaxed_.push_back(static_cast<int>(c));
      in_relaxation_[c] = 1;
      rows_begin_.push_back(static_cast<int>(rows_.size()));
    }
  }
}

// An element with one usable candidate needs it in every cover. Forcing covers elements but
// takes no candidate from another element, so one round finds all of them.
void LagrangianBound::forceSingles() {
  for (std::size_t p = 0; p < elements_.size(); ++p) {
    const int c = last_usable_[p];
    if (usable_count_[p] != 1 || forced_[at(c)] != 0) {
      continue;
    }
    forced_[at(c)] = 1;
    ++forced_count_;
    for (std::size_t j = cand_elems_.begin[at(c)]; j < cand_elems_.begin[at(c) + 1]; ++j) {
      covered_by_forced_[at(cand_elems_.items[j])] = 1;
    }
  }
  if (forced_count_ == 0) {
    return;
  }
  for (const int c : relaxed_) {
    in_relaxation_[at(c)] = 0;
  }
  // Rebuilt without the forced candidates and what they cover; open and usable are read
  // again through the current relaxation's own marks.
  std::vector<char> open(position_.size(), 0);
  std::vector<char> usable(forced_.size(), 0);
  for (const int e : elements_) {
    open[at(e)] = 1;
  }
  for (const int c : relaxed_) {
    usable[at(c)] = 1;
  }
  collectRelaxation(open, usable);
}

// L(u) for the multipliers u (by position), with the subgradient of the relaxed candidates'
// choice in subgradient_.
double LagrangianBound::lagrangianValue(const std::vector<double>& u) {
  double value = 0.0;
  for (std::size_t p = 0; p < elements_.size(); ++p) {
    value += u[p];
    subgradient_[p] = 1.0;
  }
  for (std::size_t r = 0; r < relaxed_.size(); ++r) {
    double reduced = 1.0;
    for (int k = rows_begin_[r]; k < rows_begin_[r + 1]; ++k) {
      reduced -= u[at(rows_[at(k)])];
    }
    if (reduced < 0.0) {
      value += reduced;
      for (int k = rows_begin_[r]; k < rows_begin_[r + 1]; ++k) {
        subgradient_[at(rows_[at(k)])] -= 1.0;
      }
    }
  }
  return value;
}

// Projected subgradient ascent with Polyak steps towards the value that would cut the node.
// Works on the multipliers by position and hands the best ones back by element.
void LagrangianBound::subgradientAscent(int target, const BoundEffort& effort,
                                        const Deadline& deadline,
                                        std::vector<double>& u_by_element) {
  const std::size_t size = elements_.size();
  if (size == 0) {
    return;
  }
  u_.resize(size);
  for (std::size_t p = 0; p < size; ++p) {
    u_[p] = u_by_element[at(elements_[p])];
  }
  subgradient_.assign(size, 0.0);
  best_u_ = u_;
  const double goal = static_cast<double>(target - forced_count_);
  best_value_ = -std::numeric_limits<double>::infinity();
  double step = effort.step;
  int stalled = 0;
  for (int iteration = 0; iteration <= effort.iterations; ++iteration) {
    const double value = lagrangianValue(u_);
    if (value > best_value_ + 1e-9) {
      best_value_ = value;
      best_u_ = u_;
      stalled = 0;
    } else if (++stalled >= effort.patience) {
      step /= 2.0;
      stalled = 0;
    }
    // Any multipliers give a valid bound, so the deadline may end the ascent at any step.
    if (best_value_ > goal - 1.0 + kRoundingMargin || iteration == effort.iterations ||
        step < effort.min_step || deadline.passedAfter(rows_.size() + size)) {
      break;
    }
    double norm = 0.0;
    for (std::size_t p = 0; p < size; ++p) {
      if (u_[p] <= 0.0 && subgradient_[p] < 0.0) {
        subgradient_[p] = 0.0;  // the projection keeps this multiplier at zero
      }
      norm += subgradient_[p] * subgradient_[p];
    }
    if (norm == 0.0) {
      break;  // the relaxed choice covers every element exactly: L(u) is the optimum
    }
    const double length = step * std::max(goal - value, 1e-3) / norm;
    for (std::size_t p = 0; p < size; ++p) {
      u_[p] = std::max(0.0, u_[p] + length * subgradient_[p]);
    }
  }
  for (std::size_t p = 0; p < size; ++p) {
    u_by_element[at(elements_[p])] = best_u_[p];
  }
}

void LagrangianBound::reducedCosts(const std::vector<double>& u) {
  for (std::size_t c = 0; c < reduced_.size(); ++c) {
    double reduced = 1.0;
    for (std::size_t j = cand_elems_.begin[c]; j < cand_elems_.begin[c + 1]; ++j) {
      const int e = cand_elems_.items[j];
      if (position_[at(e)] >= 0) {
        reduced -= u[at(e)];
      }
    }
    reduced_[c] = reduced;
  }
}

}  // namespace detail
}  // namespace vantorel_base_utils
