// SPDX-License-Identifier: Apache-2.0
// Branch-and-bound for the smallest set cover.
//
// The tree. The search is depth-first over selections. A node first selects, one at a time,
// the only unselected candidate of any uncovered element (degree-1 propagation). A complete
// cover smaller than the incumbent replaces it. Otherwise the node branches on the first
// uncovered element of `order` (ascending degree): each unselected candidate of that
// element, in ascending index order, is selected in turn and searched below. Which nodes are
// children of which depends only on the selections, never on the incumbent or the bounds.
//
// The result. Over this fixed tree the result is the first cover of minimal size in
// depth-first order, or the incumbent when that is already minimal: before that cover is
// reached the incumbent is larger than the minimum, and a subtree is only ever cut when it
// holds no cover smaller than the incumbent, so no cut removes it. Any search that walks the
// same tree in the same order and cuts only such subtrees returns the same cover; this one
// cuts far more of them than a search bounded by candidate gains alone.
//
// The cuts, on contexts whose lists agree with each other (as solveByPropagate builds them):
// - Exclusion. Once the branch of candidate c is finished, every cover that extends the
//   node's selection and contains c has been met there or is no smaller than the incumbent
//   (every cover extending a selection has a sub-cover in that selection's subtree). So the
//   later branches, and all nodes below them, treat c as excluded: a node that must select
//   it is cut, and the bound leaves it out.
// - Bound. A node is cut when the selected candidates plus a lower bound on the candidates
//   still needed reach the cutoff. The bound is the Lagrangian relaxation of the covering
//   constraints over the open elements and the candidates neither selected nor excluded,
//   with subgradient steps warm-started from the parent's multipliers (LagrangianBound).
//   Candidates whose elements lie within another candidate's are left out of it: in any
//   cover the other one can stand in, and when that one is excluded the cover is no smaller
//   than the incumbent anyway.
// - Reduced costs. Selecting candidate c raises the node's Lagrangian bound by at least its
//   positive reduced cost; when that reaches the cutoff, c is excluded below the node, and a
//   branch on it is cut without being entered. Excluding a finished branch's candidate lowers
//   no term and raises the bound by its negative reduced cost, which tightens the later
//   branches' cuts.
// - Cutoff. With a heuristic cover of h candidates in hand, subtrees without a cover of at
//   most h candidates are cut as well: they cannot hold the first minimal cover either.
//
// Contexts whose lists disagree (built by hand) keep only the gain bound: one more
// candidate, and ceil(uncovered / largest gain) more.
//
// Limits. A time or node limit ends the search at the next node (or within 64 swaps of the
// local search); the lower bound then reported is the smallest bound among the subtrees left
// unexplored, or the best cover's size if that is smaller. Within a node the subgradient
// steps and the cover heuristic stop at the deadline too, so that a node of an instance with
// millions of entries overruns it by a few passes over them at most; the set-up of the search
// (its lists and the dominated elements and candidates) throws DeadlinePassed instead.
#include "optimization/branch_and_bound.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "optimization/cover_heuristic.hpp"
#include "optimization/dense_instance.hpp"
#include "optimization/lagrangian_bound.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace vantorel_base_utils {
namespace detail {

namespace {

// Every node starts from its parent's multipliers, so the first node refines them much
// longer, the longer the larger the instance (an iteration costs time in proportion to its
// entries).
BoundEffort rootEffort(std::size_t entries) {
  const auto iterations = std::min<std::size_t>(1000, 100 + entries / 50);
  return {static_cast<int>(iterations), 1.0, 20, 0.01};
}
constexpr BoundEffort kNodeEffort{25, 0.5, 5, 0.0};
constexpr double kRoundingMargin = 1e-6;

std::size_t at(int index) {
  return static_cast<std::size_t>(index);
}

int roundUp(double bound) {
  return static_cast<int>(std::ceil(bound - kRoundingMargin));
}

template <typename PropCtx>
Incidence candidateLists(const PropCtx& ctx, const Deadline& deadline) {
  Incidence lists;
  lists.begin.push_back(0);
  for (const auto& cand : ctx.cands) {
    deadline.check(cand.elems.size() + 1);
    lists.items.insert(lists.items.end(), cand.elems.begin(), cand.elems.end());
    lists.begin.push_back(lists.items.size());
  }
  return lists;
}

// Whether the exclusion and bound arguments hold: element indices are in range, the
// uncovered count matches the flags, every selected candidate's elements are covered, and
// every element's list names every candidate that lists the element.
template <typename PropCtx>
bool listsAgree(const PropCtx& ctx, const Incidence& cand_elems, const Deadline& deadline) {
  const auto num_elems = static_cast<int>(ctx.elems.size());
  if (std::any_of(cand_elems.items.begin(), cand_elems.items.end(),
                  [num_elems](int e) { return e < 0 || e >= num_elems; })) {
    return false;
  }
  const auto uncovered = std::count_if(ctx.elems.begin(), ctx.elems.end(),
                                       [](const auto& element) { return !element.covered; });
  if (uncovered != ctx.num_uncovered) {
    return false;
  }
  for (const auto& cand : ctx.cands) {
    deadline.check(cand.elems.size() + 1);
    for (const int e : cand.elems) {
      if (cand.selected && !ctx.elems[at(e)].covered) {
        return false;
      }
    }
  }
  const Incidence listers = transpose(cand_elems.begin, cand_elems.items, num_elems, deadline);
  for (std::size_t e = 0; e < ctx.elems.size(); ++e) {
    deadline.check(ctx.elems[e].cands.size() + 1);
    std::vector<int> named = ctx.elems[e].cands;
    std::sort(named.begin(), named.end());
    const auto first = listers.items.begin() + static_cast<std::ptrdiff_t>(listers.begin[e]);
    const auto last = listers.items.begin() + static_cast<std::ptrdiff_t>(listers.begin[e + 1]);
    if (!std::includes(named.begin(), named.end(), first, last)) {
      return false;
    }
  }
  return true;
}

template <typename Solver>
class BranchAndBound {
 public:
  using PropCtx = typename Solver::PropCtx;
  using UndoRec = typename Solver::UndoRec;

  BranchAndBound(PropCtx& ctx, const SearchLimits& limits)
      : ctx_(ctx),
        limits_(limits),
        cand_elems_(candidateLists(ctx, limits.deadline)),
        trusted_(listsAgree(ctx, cand_elems_, limits.deadline)),
        next_refinement_(std::max(1LL, limits.refine_after_nodes)) {
    if (!trusted_) {
      return;
    }
    elem_cands_ = transpose(cand_elems_.begin, cand_elems_.items,
                            static_cast<int>(ctx_.elems.size()), limits.deadline);
    open_.resize(ctx_.elems.size());
    for (std::size_t e = 0; e < ctx_.elems.size(); ++e) {
      open_[e] = ctx_.elems[e].covered ? 0 : 1;
    }
    excluded_.assign(ctx_.cands.size(), 0);
    usable_.resize(ctx_.cands.size());
    for (std::size_t c = 0; c < ctx_.cands.size(); ++c) {
      usable_[c] = ctx_.cands[c].selected ? 0 : 1;
    }
    bound_ = std::make_unique<LagrangianBound>(cand_elems_, elem_cands_, limits.deadline);
  }

  SearchReport run(int& best_size, std::vector<int>& best_sol) {
    best_size_ = &best_size;
    best_sol_ = &best_sol;
    const int unexplored = search(0, ctx_.num_selected);
    report_.finished = !stopped_;
    report_.lower_bound = stopped_ ? std::min({best_size, heuristicSize(), unexplored}) : best_size;
    if (report_.finished) {
      report_.heuristic_cover.clear();  // the search reached a cover at least as small
    }
    return report_;
  }

 private:
  struct Child {
    int cand;
    double extra_if_selected;
    double extra_if_excluded;
    bool forced;
  };
  struct Frame {
    std::vector<double> multipliers;  // by element
    std::vector<Child> children;
    std::vector<int> excluded;  // undone when the node is left
  };

  int heuristicSize() const {
    return report_.heuristic_cover.empty() ? INT_MAX
                                           : static_cast<int>(report_.heuristic_cover.size());
  }
  // Subtrees without a cover of fewer candidates than this are cut.
  int cutoff() const {
    const int h = heuristicSize();
    return h == INT_MAX ? *best_size_ : std::min(*best_size_, h + 1);
  }

  bool limitReached() const {
    if (limits_.max_nodes > 0 && report_.nodes > limits_.max_nodes) {
      return true;
    }
    return limits_.deadline.passed();
  }

  // Searches the node below the current state. Returns INT_MAX when its subtree was finished,
  // otherwise (a limit stopped the search) a lower bound on the covers it left unexplored,
  // at least `bound`, which holds for every cover of the subtree.
  int search(int depth, int bound) {
    ++report_.nodes;
    if (limitReached()) {
      stopped_ = true;
      return bound;
    }
    maybeRefineIncumbent();
    bool infeasible = false;
    const std::vector<UndoRec> forced = Solver::propagateDeg1(ctx_, infeasible);
    bool needs_excluded = false;
    for (const UndoRec& rec : forced) {
      mirrorSelect(rec, true);
      needs_excluded = needs_excluded || (trusted_ && excluded_[at(rec.cand)] > 0);
    }
    int unexplored = INT_MAX;
    if (!infeasible && !needs_excluded) {
      unexplored = expand(depth, bound);
    }
    for (auto rec = forced.rbegin(); rec != forced.rend(); ++rec) {
      mirrorSelect(*rec, false);
    }
    Solver::undoPropagate(ctx_, forced);
    return unexplored;
  }

  void mirrorSelect(const UndoRec& rec, bool select) {
    if (!trusted_) {
      return;
    }
    for (const int e : rec.newly_covered) {
      open_[at(e)] = select ? 0 : 1;
    }
    usable_[at(rec.cand)] = !select && excluded_[at(rec.cand)] == 0 ? 1 : 0;
  }

  void exclude(int cand, Frame& frame) {
    if (excluded_[at(cand)]++ == 0) {
      usable_[at(cand)] = 0;
    }
    frame.excluded.push_back(cand);
  }
  void restoreExcluded(Frame& frame) {
    for (const int cand : frame.excluded) {
      if (--excluded_[at(cand)] == 0 && !ctx_.cands[at(cand)].selected) {
        usable_[at(cand)] = 1;
      }
    }
    frame.excluded.clear();
  }

  int expand(int depth, int bound) {
    if (ctx_.num_uncovered == 0) {
      if (ctx_.num_selected < *best_size_) {
        *best_size_ = ctx_.num_selected;
        *best_sol_ = ctx_.chosen;
      }
      return INT_MAX;
    }
    if (ctx_.num_selected + 1 >= cutoff()) {
      return INT_MAX;
    }
    return trusted_ ? expandBounded(depth, bound) : expandByGains(depth, bound);
  }

  // The gain bound and every unselected candidate of the branching element.
  int expandByGains(int depth, int bound) {
    int max_gain = 0;
    for (const auto& cand : ctx_.cands) {
      if (cand.selected) {
        continue;
      }
      int gain = 0;
      for (const int e : cand.elems) {
        gain += ctx_.elems[at(e)].covered ? 0 : 1;
      }
      max_gain = std::max(max_gain, gain);
    }
    if (max_gain > 0 &&
        ctx_.num_selected + (ctx_.num_uncovered + max_gain - 1) / max_gain >= cutoff()) {
      return INT_MAX;
    }
    const int branch_elem = firstUncovered();
    if (branch_elem < 0) {
      return INT_MAX;
    }
    int unexplored = INT_MAX;
    for (const int c : ctx_.elems[at(branch_elem)].cands) {
      if (ctx_.cands[at(c)].selected) {
        continue;
      }
      const UndoRec rec = Solver::doSelect(ctx_, c);
      unexplored = std::min(unexplored, search(depth + 1, bound));
      Solver::undoSelect(ctx_, rec);
      if (stopped_) {
        return std::min(unexplored, bound);
      }
    }
    return unexplored;
  }

  Frame& frameAt(int depth) {
    while (frames_.size() <= at(depth)) {
      frames_.emplace_back();
    }
    return frames_[at(depth)];
  }

  int expandBounded(int depth, int bound) {
    Frame& frame = frameAt(depth);
    if (depth == 0) {
      frame.multipliers = chargeMultipliers();
    } else {
      frame.multipliers = frames_[at(depth - 1)].multipliers;
    }
    const int target = cutoff() - ctx_.num_selected;
    const BoundEffort effort = depth == 0 ? rootEffort(cand_elems_.items.size()) : kNodeEffort;
    if (!bound_->evaluate(open_, usable_, target, effort, limits_.deadline, frame.multipliers)) {
      return INT_MAX;
    }
    const double base = ctx_.num_selected + bound_->forced() + bound_->value();
    const int node_bound =
        std::max(bound, ctx_.num_selected + bound_->forced() + bound_->neededBeyondForced());
    if (depth == 0) {
      report_.root_bound = node_bound;
    }
    if (node_bound >= cutoff()) {
      return INT_MAX;
    }
    if (depth == 0 && limits_.seek_incumbent && !limits_.deadline.passed()) {
      seekIncumbent();
    }
    const int branch_elem = firstUncovered();
    if (branch_elem < 0) {
      return INT_MAX;
    }
    fixByReducedCost(base, frame);
    frame.children.clear();
    for (const int c : ctx_.elems[at(branch_elem)].cands) {
      if (usable_[at(c)] != 0) {
        frame.children.push_back(
            {c, bound_->extraIfSelected(c), bound_->extraIfExcluded(c), bound_->isForced(c)});
      }
    }
    const int unexplored = branch(depth, base, node_bound, frame);
    restoreExcluded(frame);
    return unexplored;
  }

  // Each element charged 1 / the largest candidate covering it: no candidate's charges add
  // up to more than 1, so the subgradient steps start from a bound that is already valid.
  std::vector<double> chargeMultipliers() const {
    std::vector<double> charge(ctx_.elems.size(), 0.0);
    for (std::size_t e = 0; e < charge.size(); ++e) {
      std::size_t largest = 0;
      for (std::size_t k = elem_cands_.begin[e]; k < elem_cands_.begin[e + 1]; ++k) {
        const auto c = at(elem_cands_.items[k]);
        largest = std::max(largest, cand_elems_.begin[c + 1] - cand_elems_.begin[c]);
      }
      charge[e] = largest > 0 ? 1.0 / static_cast<double>(largest) : 0.0;
    }
    return charge;
  }

  // Candidates whose selection alone lifts the bound to the cutoff are excluded below.
  void fixByReducedCost(double base, Frame& frame) {
    for (std::size_t c = 0; c < usable_.size(); ++c) {
      const int cand = static_cast<int>(c);
      if (usable_[c] != 0 && roundUp(base + bound_->extraIfSelected(cand)) >= cutoff()) {
        exclude(cand, frame);
      }
    }
  }

  // Children in order; each finished child's candidate is excluded from the later ones.
  int branch(int depth, double base, int node_bound, Frame& frame) {
    double gained = 0.0;  // bound raised by the excluded earlier children
    for (std::size_t i = 0; i < frame.children.size(); ++i) {
      const Child child = frame.children[i];
      if (usable_[at(child.cand)] == 0) {
        continue;
      }
      const int child_bound =
          std::max(node_bound, roundUp(base + gained + child.extra_if_selected));
      if (child_bound < cutoff()) {
        const UndoRec rec = Solver::doSelect(ctx_, child.cand);
        mirrorSelect(rec, true);
        const int unexplored = search(depth + 1, child_bound);
        mirrorSelect(rec, false);
        Solver::undoSelect(ctx_, rec);
        if (stopped_) {
          return std::min(unexplored, remainingBound(depth, i + 1, base + gained, node_bound));
        }
      }
      if (child.forced) {
        return INT_MAX;  // every later branch would need this candidate too
      }
      exclude(child.cand, frame);
      gained += child.extra_if_excluded;
    }
    return INT_MAX;
  }

  // The smallest bound among the children from `first` on that are still to be searched.
  int remainingBound(int depth, std::size_t first, double base, int node_bound) {
    int lowest = INT_MAX;
    const Frame& frame = frameAt(depth);
    for (std::size_t i = first; i < frame.children.size(); ++i) {
      const Child& child = frame.children[i];
      if (usable_[at(child.cand)] != 0) {
        lowest = std::min(lowest, std::max(node_bound, roundUp(base + child.extra_if_selected)));
      }
    }
    return lowest;
  }

  // At the first node: a cover from the multipliers. The root's open elements and
  // unselected candidates are kept for the local search that refines it later.
  void seekIncumbent() {
    root_open_ = open_;
    root_chosen_ = ctx_.chosen;
    root_unselected_.resize(ctx_.cands.size());
    std::vector<double> reduced(ctx_.cands.size());
    for (std::size_t c = 0; c < reduced.size(); ++c) {
      root_unselected_[c] = ctx_.cands[c].selected ? 0 : 1;
      reduced[c] = bound_->reducedCost(static_cast<int>(c));
    }
    std::vector<int> cover = lagrangianCover(cand_elems_, elem_cands_, open_, root_unselected_,
                                             reduced, limits_.deadline);
    if (!cover.empty() || ctx_.num_uncovered == 0) {
      offerCover(cover);
    }
  }

  // Local search from the best cover known, for as many steps as nodes searched, once the
  // node count reaches refine_after_nodes and each time it grows fourfold after that: a
  // bounded share of the search's work, and none for searches that end early.
  void maybeRefineIncumbent() {
    if (root_unselected_.empty() || report_.nodes < next_refinement_) {
      return;
    }
    refineIncumbent(next_refinement_);
    next_refinement_ *= 4;
  }

  void refineIncumbent(long long steps) {
    const bool from_heuristic = heuristicSize() < *best_size_;
    std::vector<int> start;
    for (const int c : from_heuristic ? report_.heuristic_cover : *best_sol_) {
      if (root_unselected_[at(c)] != 0) {
        start.push_back(c);
      }
    }
    const std::vector<int> improved =
        improveCover(cand_elems_, elem_cands_, root_open_, root_unselected_, start, steps,
                     ++refinements_, limits_.deadline);
    if (!improved.empty()) {
      offerCover(improved);
    }
  }

  // Takes a cover of the root's open elements as the heuristic cover when it makes a smaller
  // cover than any known.
  void offerCover(std::vector<int> cover) {
    cover.insert(cover.begin(), root_chosen_.begin(), root_chosen_.end());
    if (static_cast<int>(cover.size()) < std::min(*best_size_, heuristicSize())) {
      report_.heuristic_cover = std::move(cover);
    }
  }

  int firstUncovered() const {
    for (const int e : ctx_.order) {
      if (!ctx_.elems[at(e)].covered) {
        return e;
      }
    }
    return -1;
  }

  PropCtx& ctx_;
  const SearchLimits& limits_;
  Incidence cand_elems_;
  Incidence elem_cands_;
  bool trusted_;
  long long next_refinement_;  // node count of the next local search
  std::vector<char> open_;     // per element: not covered
  std::vector<int> excluded_;  // per candidate: how many nodes on the path exclude it
  std::vector<char> usable_;   // per candidate: neither selected nor excluded
  std::unique_ptr<LagrangianBound> bound_;
  std::deque<Frame> frames_;  // references stay valid as it grows
  int* best_size_ = nullptr;
  std::vector<int>* best_sol_ = nullptr;
  bool stopped_ = false;
  SearchReport report_;
  std::vector<char> root_open_;
  std::vector<char> root_unselected_;
  std::vector<int> root_chosen_;
  unsigned refinements_ = 0;
};

}  // namespace

template <typename Solver>
SearchReport branchAndBound(typename Solver::PropCtx& ctx, int& best_size,
                            std::vector<int>& best_sol, const SearchLimits& limits) {
  return BranchAndBound<Solver>(ctx, limits).run(best_size, best_sol);
}

template SearchReport branchAndBound<SetCoverSolver<int>>(SetCoverSolver<int>::PropCtx&, int&,
                                                          std::vector<int>&, const SearchLimits&);
template SearchReport branchAndBound<SetCoverSolver<std::string>>(
    SetCoverSolver<std::string>::PropCtx&, int&, std::vector<int>&, const SearchLimits&);
template SearchReport branchAndBound<SetCoverSolver<unsigned long>>(
    SetCoverSolver<unsigned long>::PropCtx&, int&, std::vector<int>&, const SearchLimits&);

}  // namespace detail
}  // namespace vantorel_base_utils
