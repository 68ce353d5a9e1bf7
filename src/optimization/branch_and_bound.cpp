// Branch-and-bound for the smallest set cover.
//
// The search is depth-first over selections. At each node it first selects, one at a time,
// the only unselected candidate of any uncovered element (degree-1 propagation). A complete
// cover smaller than the incumbent replaces it. Otherwise the node branches on the first
// uncovered element of `order` (ascending degree): each unselected candidate of that element,
// in ascending index order, is selected in turn and searched below. Candidates tried in one
// branch are not excluded from the later ones.
//
// A node is cut when a lower bound on every cover below it reaches the incumbent's size:
// one more candidate, the fewest candidates whose largest gains add up to the uncovered
// count, and each uncovered element charged 1/g for the largest gain g among its
// candidates. Gains (uncovered elements per candidate) are kept up to date through the
// selections rather than recounted at every node.
//
// Why the result is the plain search's: which node is a child of which does not depend on
// the incumbent, so both searches walk one tree in one order, the plain one merely cutting
// less. The result is the first cover of minimal size in that order, or the incumbent when it
// is already minimal. A cut subtree holds no cover smaller than the incumbent at that moment;
// before the first minimal cover is reached the incumbent is larger than the minimum, so no
// cut removes it.
#include "optimization/branch_and_bound.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "optimization/dense_instance.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace vantorel_base_utils {
namespace detail {

namespace {

template <typename Solver>
class BranchAndBound {
 public:
  using PropCtx = typename Solver::PropCtx;
  using UndoRec = typename Solver::UndoRec;

  BranchAndBound(PropCtx& ctx, long long* nodes) : ctx_(ctx), nodes_(nodes) {
    std::vector<std::size_t> begin{0};
    std::vector<int> items;
    std::size_t longest = 0;
    for (const auto& cand : ctx_.cands) {
      items.insert(items.end(), cand.elems.begin(), cand.elems.end());
      begin.push_back(items.size());
      longest = std::max(longest, cand.elems.size());
      int uncovered = 0;
      for (const int e : cand.elems) {
        uncovered += ctx_.elems[static_cast<std::size_t>(e)].covered ? 0 : 1;
      }
      gain_.push_back(uncovered);
    }
    listing_ = transpose(begin, items, static_cast<int>(ctx_.elems.size()));
    count_of_gain_.assign(longest + 1, 0);
  }

  void search(int& best_size, std::vector<int>& best_sol) {
    if (nodes_ != nullptr) {
      ++*nodes_;
    }
    bool infeasible = false;
    const std::vector<UndoRec> forced = Solver::propagateDeg1(ctx_, infeasible);
    for (const UndoRec& rec : forced) {
      adjustGains(rec, -1);
    }
    if (!infeasible) {
      expand(best_size, best_sol);
    }
    for (const UndoRec& rec : forced) {
      adjustGains(rec, +1);
    }
    Solver::undoPropagate(ctx_, forced);
  }

 private:
  void expand(int& best_size, std::vector<int>& best_sol) {
    if (ctx_.num_uncovered == 0) {
      if (ctx_.num_selected < best_size) {
        best_size = ctx_.num_selected;
        best_sol = ctx_.chosen;
      }
      return;
    }
    if (ctx_.num_selected + 1 >= best_size || largestGainsBoundReaches(best_size) ||
        elementChargeBoundReaches(best_size)) {
      return;
    }
    const int branch_elem = firstUncovered();
    if (branch_elem < 0) {
      return;
    }
    for (const int c : ctx_.elems[static_cast<std::size_t>(branch_elem)].cands) {
      if (ctx_.cands[static_cast<std::size_t>(c)].selected) {
        continue;
      }
      const UndoRec rec = Solver::doSelect(ctx_, c);
      adjustGains(rec, -1);
      search(best_size, best_sol);
      adjustGains(rec, +1);
      Solver::undoSelect(ctx_, rec);
    }
  }

  void adjustGains(const UndoRec& rec, int delta) {
    for (const int e : rec.newly_covered) {
      const auto element = static_cast<std::size_t>(e);
      for (std::size_t k = listing_.begin[element]; k < listing_.begin[element + 1]; ++k) {
        gain_[static_cast<std::size_t>(listing_.items[k])] += delta;
      }
    }
  }

  // True when no cover below this node can have fewer than best_size candidates: k more
  // candidates cover at most the sum of the k largest gains.
  bool largestGainsBoundReaches(int best_size) {
    std::size_t largest = 0;
    for (std::size_t c = 0; c < gain_.size(); ++c) {
      if (gain_[c] > 0 && !ctx_.cands[c].selected) {
        const auto g = static_cast<std::size_t>(gain_[c]);
        ++count_of_gain_[g];
        largest = std::max(largest, g);
      }
    }
    long long needed = ctx_.num_uncovered;
    long long size = ctx_.num_selected;
    for (std::size_t g = largest; g > 0; --g) {
      const long long available = count_of_gain_[g];
      count_of_gain_[g] = 0;
      if (needed <= 0 || size >= best_size) {
        continue;  // keep clearing the counts
      }
      const auto gain = static_cast<long long>(g);
      const long long taken = std::min(available, (needed + gain - 1) / gain);
      size += taken;
      needed -= taken * gain;
    }
    return size >= best_size || needed > 0;
  }

  // True when no cover below this node can have fewer than best_size candidates: charge
  // each uncovered element 1/g for the largest gain g among the candidates that list it.
  // A candidate of gain g covers at most g uncovered elements, each charged at most 1/g,
  // so any cover needs at least as many more candidates as the charges add up to. Only
  // used when the uncovered count agrees with the flags, as it does on solver contexts.
  bool elementChargeBoundReaches(int best_size) const {
    double charges = 0.0;
    int uncovered = 0;
    bool uncoverable = false;
    for (std::size_t e = 0; e < ctx_.elems.size(); ++e) {
      if (ctx_.elems[e].covered) {
        continue;
      }
      ++uncovered;
      int largest = 0;
      for (std::size_t k = listing_.begin[e]; k < listing_.begin[e + 1]; ++k) {
        const auto c = static_cast<std::size_t>(listing_.items[k]);
        if (!ctx_.cands[c].selected) {
          largest = std::max(largest, gain_[c]);
        }
      }
      uncoverable = uncoverable || largest == 0;
      charges += largest > 0 ? 1.0 / largest : 0.0;
    }
    if (uncovered != ctx_.num_uncovered) {
      return false;
    }
    // The margin keeps rounding from ever lifting an integral sum to the next integer.
    return uncoverable || ctx_.num_selected + std::ceil(charges - 1e-9) >= best_size;
  }

  int firstUncovered() const {
    for (const int e : ctx_.order) {
      if (!ctx_.elems[static_cast<std::size_t>(e)].covered) {
        return e;
      }
    }
    return -1;
  }

  PropCtx& ctx_;
  long long* nodes_;
  std::vector<int> gain_;  // per candidate: listed elements not yet covered
  Incidence listing_;      // per element: the candidates whose elems list it
  std::vector<long long> count_of_gain_;
};

}  // namespace

template <typename Solver>
void branchAndBound(typename Solver::PropCtx& ctx, int& best_size, std::vector<int>& best_sol,
                    long long* nodes) {
  BranchAndBound<Solver>(ctx, nodes).search(best_size, best_sol);
}

template void branchAndBound<SetCoverSolver<int>>(SetCoverSolver<int>::PropCtx&, int&,
                                                  std::vector<int>&, long long*);
template void branchAndBound<SetCoverSolver<std::string>>(SetCoverSolver<std::string>::PropCtx&,
                                                          int&, std::vector<int>&, long long*);
template void branchAndBound<SetCoverSolver<unsigned long>>(SetCoverSolver<unsigned long>::PropCtx&,
                                                            int&, std::vector<int>&, long long*);

}  // namespace detail
}  // namespace vantorel_base_utils
