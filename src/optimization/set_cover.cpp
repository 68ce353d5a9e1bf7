#include "vantorel_base_utils/set_cover.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "optimization/set_cover_internal.hpp"

namespace vantorel_base_utils {

namespace {

// An instance over dense indices: candidate i has the i-th smallest id, element e is the
// e-th smallest element. Each candidate's elements are stored ascending in one flat array.
struct DenseInstance {
  std::vector<int> ids;
  std::vector<std::size_t> elem_begin;  // candidate i owns elems[elem_begin[i], elem_begin[i + 1])
  std::vector<int> elems;
  int num_elems = 0;

  int numCands() const { return static_cast<int>(ids.size()); }
};

// For every target index, the sources whose lists name it, ascending by source.
struct Incidence {
  std::vector<std::size_t> begin;
  std::vector<int> items;
};

Incidence transpose(const std::vector<std::size_t>& begin, const std::vector<int>& items,
                    int num_targets) {
  Incidence t;
  t.begin.assign(static_cast<std::size_t>(num_targets) + 1, 0);
  for (const int target : items) {
    ++t.begin[static_cast<std::size_t>(target) + 1];
  }
  std::partial_sum(t.begin.begin(), t.begin.end(), t.begin.begin());
  t.items.resize(items.size());
  std::vector<std::size_t> next(t.begin.begin(), t.begin.end() - 1);
  for (std::size_t source = 0; source + 1 < begin.size(); ++source) {
    for (std::size_t k = begin[source]; k < begin[source + 1]; ++k) {
      t.items[next[static_cast<std::size_t>(items[k])]++] = static_cast<int>(source);
    }
  }
  return t;
}

// Integer elements spanning a range not much larger than the instance are numbered through
// a table indexed by value, which avoids hashing or sorting every occurrence.
template <typename T>
bool numberByTable(const std::map<int, std::set<T>>& candidates, std::vector<int>& out,
                   int& num_elems) {
  using Unsigned = std::make_unsigned_t<T>;
  bool any = false;
  T low{};
  T high{};
  for (const auto& entry : candidates) {
    const std::set<T>& elements = entry.second;
    if (elements.empty()) {
      continue;
    }
    low = any ? std::min(low, *elements.begin()) : *elements.begin();
    high = any ? std::max(high, *elements.rbegin()) : *elements.rbegin();
    any = true;
  }
  if (!any) {
    num_elems = 0;
    return true;
  }
  const auto span =
      static_cast<std::uint64_t>(static_cast<Unsigned>(high) - static_cast<Unsigned>(low));
  if (span >= 4 * static_cast<std::uint64_t>(out.size()) + 1024 ||
      span >= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
    return false;
  }
  std::vector<int> rank(static_cast<std::size_t>(span) + 1, 0);
  std::size_t k = 0;
  for (const auto& entry : candidates) {
    for (const T& element : entry.second) {
      const auto offset =
          static_cast<std::size_t>(static_cast<Unsigned>(element) - static_cast<Unsigned>(low));
      rank[offset] = 1;
      out[k++] = static_cast<int>(offset);
    }
  }
  int next = 0;
  for (int& r : rank) {
    r = r != 0 ? next++ : 0;
  }
  for (int& index : out) {
    index = rank[static_cast<std::size_t>(index)];
  }
  num_elems = next;
  return true;
}

template <typename T>
void numberByHash(const std::map<int, std::set<T>>& candidates, std::vector<int>& out,
                  int& num_elems) {
  std::unordered_map<T, int> index;
  std::vector<int*> slot_of_occurrence(out.size());
  std::size_t k = 0;
  for (const auto& entry : candidates) {
    for (const T& element : entry.second) {
      slot_of_occurrence[k++] = &index.try_emplace(element, 0).first->second;
    }
  }
  std::vector<std::pair<const T*, int*>> by_element;
  by_element.reserve(index.size());
  for (auto& entry : index) {
    by_element.emplace_back(&entry.first, &entry.second);
  }
  std::sort(by_element.begin(), by_element.end(),
            [](const auto& a, const auto& b) { return std::less<T>()(*a.first, *b.first); });
  int next = 0;
  for (auto& entry : by_element) {
    *entry.second = next++;
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = *slot_of_occurrence[i];
  }
  num_elems = next;
}

template <typename T>
DenseInstance denseInstance(const std::map<int, std::set<T>>& candidates) {
  DenseInstance d;
  d.ids.reserve(candidates.size());
  d.elem_begin.reserve(candidates.size() + 1);
  d.elem_begin.push_back(0);
  std::size_t total = 0;
  for (const auto& entry : candidates) {
    d.ids.push_back(entry.first);
    total += entry.second.size();
    d.elem_begin.push_back(total);
  }
  d.elems.resize(total);
  if constexpr (std::is_integral_v<T>) {
    if (numberByTable(candidates, d.elems, d.num_elems)) {
      return d;
    }
  }
  numberByHash(candidates, d.elems, d.num_elems);
  return d;
}

// Maximum over positions, with searches for the first or last position whose value
// reaches a threshold. Decrements are collected and applied to the inner nodes in one
// update, along the changed paths or, when many changed, by rebuilding all inner nodes.
class MaxTree {
 public:
  explicit MaxTree(const std::vector<int>& values) {
    while (leaves_ < values.size()) {
      leaves_ *= 2;
      ++depth_;
    }
    tree_.assign(2 * leaves_, 0);
    std::copy(values.begin(), values.end(), tree_.begin() + static_cast<std::ptrdiff_t>(leaves_));
    pending_flag_.assign(leaves_, 0);
    rebuild();
  }

  int max() const { return tree_[1]; }

  void decrement(int position) {
    const auto leaf = static_cast<std::size_t>(position);
    --tree_[leaves_ + leaf];
    if (pending_flag_[leaf] == 0) {
      pending_flag_[leaf] = 1;
      pending_.push_back(leaf);
    }
  }

  void update() {
    if (pending_.size() * depth_ > leaves_) {
      rebuild();
    } else {
      for (const std::size_t leaf : pending_) {
        refreshPath(leaf);
      }
    }
    for (const std::size_t leaf : pending_) {
      pending_flag_[leaf] = 0;
    }
    pending_.clear();
  }

  // First position >= from whose value is at least threshold, or -1.
  int firstAtLeast(int from, int threshold) const {
    return firstIn(1, 0, leaves_, static_cast<std::size_t>(from), threshold);
  }
  // Last position < before whose value is at least threshold, or -1.
  int lastBefore(int before, int threshold) const {
    return lastIn(1, 0, leaves_, static_cast<std::size_t>(before), threshold);
  }

 private:
  int firstIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t from,
              int threshold) const {
    if (hi <= from || tree_[node] < threshold) {
      return -1;
    }
    if (hi - lo == 1) {
      return static_cast<int>(lo);
    }
    const std::size_t mid = (lo + hi) / 2;
    const int left = firstIn(2 * node, lo, mid, from, threshold);
    return left >= 0 ? left : firstIn(2 * node + 1, mid, hi, from, threshold);
  }

  int lastIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t before,
             int threshold) const {
    if (lo >= before || tree_[node] < threshold) {
      return -1;
    }
    if (hi - lo == 1) {
      return static_cast<int>(lo);
    }
    const std::size_t mid = (lo + hi) / 2;
    const int right = lastIn(2 * node + 1, mid, hi, before, threshold);
    return right >= 0 ? right : lastIn(2 * node, lo, mid, before, threshold);
  }

  void rebuild() {
    for (std::size_t node = leaves_ - 1; node >= 1; --node) {
      tree_[node] = std::max(tree_[2 * node], tree_[2 * node + 1]);
    }
  }

  void refreshPath(std::size_t leaf) {
    for (std::size_t node = (leaves_ + leaf) / 2; node >= 1; node /= 2) {
      const int updated = std::max(tree_[2 * node], tree_[2 * node + 1]);
      if (tree_[node] == updated) {
        break;
      }
      tree_[node] = updated;
    }
  }

  std::size_t leaves_ = 1;
  std::size_t depth_ = 1;
  std::vector<int> tree_;
  std::vector<char> pending_flag_;
  std::vector<std::size_t> pending_;
};

// Among the positions with the largest gain, the one whose id is nearest to the id at
// position `last` (which has no gain left); the smaller id at equal distance.
int nearestWithGain(const MaxTree& gains, const std::vector<int>& ids, int last, int gain) {
  const int below = gains.lastBefore(last, gain);
  const int above = gains.firstAtLeast(last + 1, gain);
  if (below < 0 || above < 0) {
    return below < 0 ? above : below;
  }
  const auto last_id = static_cast<long long>(ids[static_cast<std::size_t>(last)]);
  const long long below_distance = last_id - ids[static_cast<std::size_t>(below)];
  const long long above_distance = ids[static_cast<std::size_t>(above)] - last_id;
  return above_distance < below_distance ? above : below;
}

// Greedy picks with every candidate's gain (its still uncovered elements) kept up to date
// as elements become covered, instead of recounting all gains for every pick.
std::vector<int> greedyCover(const DenseInstance& d, bool prefer_nearby) {
  if (d.num_elems == 0) {
    return {};
  }
  const Incidence covering = transpose(d.elem_begin, d.elems, d.num_elems);
  std::vector<int> gain(d.ids.size());
  for (std::size_t c = 0; c < gain.size(); ++c) {
    gain[c] = static_cast<int>(d.elem_begin[c + 1] - d.elem_begin[c]);
  }
  MaxTree gains(gain);
  std::vector<char> covered(static_cast<std::size_t>(d.num_elems), 0);
  int num_uncovered = d.num_elems;
  std::vector<int> picked;
  int last = -1;
  while (num_uncovered > 0) {
    const int best_gain = gains.max();
    if (best_gain <= 0) {
      break;
    }
    const int best = prefer_nearby && last >= 0 ? nearestWithGain(gains, d.ids, last, best_gain)
                                                : gains.firstAtLeast(0, best_gain);
    const auto best_index = static_cast<std::size_t>(best);
    if (d.ids[best_index] < 0) {
      break;  // a negative id means "no candidate" to the picking rule
    }
    picked.push_back(d.ids[best_index]);
    for (std::size_t k = d.elem_begin[best_index]; k < d.elem_begin[best_index + 1]; ++k) {
      const auto e = static_cast<std::size_t>(d.elems[k]);
      if (covered[e] != 0) {
        continue;
      }
      covered[e] = 1;
      --num_uncovered;
      for (std::size_t j = covering.begin[e]; j < covering.begin[e + 1]; ++j) {
        gains.decrement(covering.items[j]);
      }
    }
    gains.update();
    last = best;
  }
  std::sort(picked.begin(), picked.end());
  return picked;
}

// Branch-and-bound of bbSearch with two additions that never change its result: gains are
// kept up to date through the selections instead of recounted at every node, and the
// bound is the stronger "fewest candidates whose largest gains add up to the uncovered
// count". A valid bound only cuts subtrees that hold no cover smaller than the incumbent,
// and the incumbent is only ever replaced by a strictly smaller cover, so the sequence of
// incumbents, and with it the result, stays the same.
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

template <typename Solver>
typename Solver::PropCtx searchContext(const DenseInstance& d) {
  typename Solver::PropCtx ctx;
  ctx.elems.resize(static_cast<std::size_t>(d.num_elems));
  ctx.cands.resize(d.ids.size());
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    for (std::size_t k = d.elem_begin[c]; k < d.elem_begin[c + 1]; ++k) {
      const int e = d.elems[k];
      ctx.elems[static_cast<std::size_t>(e)].cands.push_back(static_cast<int>(c));
      ctx.cands[c].elems.push_back(e);
    }
  }
  ctx.order.resize(ctx.elems.size());
  std::iota(ctx.order.begin(), ctx.order.end(), 0);
  std::sort(ctx.order.begin(), ctx.order.end(), [&ctx](int a, int b) {
    return ctx.elems[static_cast<std::size_t>(a)].cands.size() <
           ctx.elems[static_cast<std::size_t>(b)].cands.size();
  });
  ctx.num_uncovered = d.num_elems;
  return ctx;
}

template <typename T>
std::vector<int> propagateCover(const std::map<int, std::set<T>>& candidates, long long* nodes) {
  using Solver = SetCoverSolver<T>;
  if (candidates.empty()) {
    return {};
  }
  const DenseInstance d = denseInstance(candidates);
  if (d.num_elems == 0) {
    return {};
  }
  typename Solver::PropCtx ctx = searchContext<Solver>(d);
  std::vector<int> best_sol;
  for (const int id : greedyCover(d, false)) {
    const auto index = std::lower_bound(d.ids.begin(), d.ids.end(), id) - d.ids.begin();
    best_sol.push_back(static_cast<int>(index));
  }
  int best_size = static_cast<int>(best_sol.size());
  BranchAndBound<Solver>(ctx, nodes).search(best_size, best_sol);
  std::vector<int> ids;
  for (const int index : best_sol) {
    ids.push_back(d.ids[static_cast<std::size_t>(index)]);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace

template <typename T>
std::vector<int> SetCoverSolver<T>::solve(const Candidates& candidates, SolveMethod method,
                                          bool prefer_nearby) {
  if (candidates.empty()) {
    return {};
  }
  switch (method) {
    case SolveMethod::ILP:
      return solveByILP(candidates);
    case SolveMethod::Propagate:
      return solveByPropagate(candidates);
    default:
      return solveByGreedy(candidates, prefer_nearby);
  }
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByGreedy(const Candidates& candidates,
                                                  bool prefer_nearby) {
  if (candidates.empty()) {
    return {};
  }
  return greedyCover(denseInstance(candidates), prefer_nearby);
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByPropagate(const Candidates& candidates) {
  return propagateCover(candidates, nullptr);
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByILP(const Candidates& candidates) {
  if (candidates.empty()) {
    return {};
  }
  const DenseInstance d = denseInstance(candidates);
  if (d.num_elems == 0) {
    return {};
  }
  std::vector<int> column_ids;
  std::vector<std::vector<int>> col_rows;
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    const auto first = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c]);
    const auto last = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c + 1]);
    if (first != last) {
      column_ids.push_back(d.ids[c]);
      col_rows.emplace_back(first, last);
    }
  }
  std::vector<int> ids;
  for (const int column : solveILP(static_cast<int>(column_ids.size()), d.num_elems, col_rows)) {
    ids.push_back(column_ids[static_cast<std::size_t>(column)]);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

template <typename T>
typename SetCoverSolver<T>::UndoRec SetCoverSolver<T>::doSelect(PropCtx& ctx, int cand) {
  UndoRec rec;
  rec.cand = cand;
  CandRec& record = ctx.cands[static_cast<std::size_t>(cand)];
  record.selected = true;
  ++ctx.num_selected;
  ctx.chosen.push_back(cand);
  for (const int e : record.elems) {
    ElemRec& element = ctx.elems[static_cast<std::size_t>(e)];
    if (element.covered) {
      continue;
    }
    element.covered = true;
    --ctx.num_uncovered;
    rec.newly_covered.push_back(e);
  }
  return rec;
}

template <typename T>
void SetCoverSolver<T>::undoSelect(PropCtx& ctx, const UndoRec& rec) {
  for (const int e : rec.newly_covered) {
    ctx.elems[static_cast<std::size_t>(e)].covered = false;
    ++ctx.num_uncovered;
  }
  ctx.cands[static_cast<std::size_t>(rec.cand)].selected = false;
  --ctx.num_selected;
  ctx.chosen.pop_back();
}

template <typename T>
void SetCoverSolver<T>::undoPropagate(PropCtx& ctx, const std::vector<UndoRec>& recs) {
  for (auto rec = recs.rbegin(); rec != recs.rend(); ++rec) {
    undoSelect(ctx, *rec);
  }
}

template <typename T>
std::vector<typename SetCoverSolver<T>::UndoRec> SetCoverSolver<T>::propagateDeg1(
    PropCtx& ctx, bool& infeasible) {
  infeasible = false;
  std::vector<UndoRec> recs;
  bool forced_one = true;
  while (forced_one) {  // every forced selection restarts the scan from the front
    forced_one = false;
    for (const int e : ctx.order) {
      const ElemRec& element = ctx.elems[static_cast<std::size_t>(e)];
      if (element.covered) {
        continue;
      }
      int unselected = 0;
      int only = -1;
      for (const int c : element.cands) {
        if (!ctx.cands[static_cast<std::size_t>(c)].selected && ++unselected == 1) {
          only = c;
        }
        if (unselected > 1) {
          break;
        }
      }
      if (unselected == 0) {
        infeasible = true;
        return recs;
      }
      if (unselected == 1) {
        recs.push_back(doSelect(ctx, only));
        forced_one = true;
        break;
      }
    }
  }
  return recs;
}

template <typename T>
void SetCoverSolver<T>::bbSearch(PropCtx& ctx, int& best_size, std::vector<int>& best_sol) {
  BranchAndBound<SetCoverSolver<T>>(ctx, nullptr).search(best_size, best_sol);
}

namespace detail {

template <typename T>
std::vector<int> solveByPropagateCounted(const std::map<int, std::set<T>>& candidates,
                                         long long& nodes) {
  nodes = 0;
  return propagateCover(candidates, &nodes);
}

template std::vector<int> solveByPropagateCounted(const std::map<int, std::set<int>>&, long long&);
template std::vector<int> solveByPropagateCounted(const std::map<int, std::set<std::string>>&,
                                                  long long&);
template std::vector<int> solveByPropagateCounted(const std::map<int, std::set<unsigned long>>&,
                                                  long long&);

}  // namespace detail

template class SetCoverSolver<int>;
template class SetCoverSolver<std::string>;
template class SetCoverSolver<unsigned long>;

}  // namespace vantorel_base_utils
