// SPDX-License-Identifier: Apache-2.0
// The Lagrangian cover heuristic of the exact search.
#include "optimization/cover_heuristic.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>

namespace vantorel_base_utils {
namespace detail {

namespace {

std::size_t at(int index) {
  return static_cast<std::size_t>(index);
}

// How many times each open element is covered by the chosen candidates.
class CoverCount {
 public:
  CoverCount(const Incidence& cand_elems, const std::vector<char>& open)
      : cand_elems_(cand_elems), open_(open), count_(open.size(), 0) {
    uncovered_ = static_cast<int>(std::count(open.begin(), open.end(), 1));
  }

  int uncovered() const { return uncovered_; }
  bool needs(int e) const { return open_[at(e)] != 0 && count_[at(e)] == 0; }

  int newlyCovered(int c) const {
    int gain = 0;
    forEach(c, [&](int e) { gain += needs(e) ? 1 : 0; });
    return gain;
  }
  bool redundant(int c) const {
    bool redundant = true;
    forEach(c, [&](int e) { redundant = redundant && (open_[at(e)] == 0 || count_[at(e)] > 1); });
    return redundant;
  }
  void add(int c, int delta) {
    forEach(c, [&](int e) {
      if (open_[at(e)] != 0) {
        uncovered_ -= count_[at(e)] == 0 ? 1 : 0;
        count_[at(e)] += delta;
        uncovered_ += count_[at(e)] == 0 ? 1 : 0;
      }
    });
  }

 private:
  template <typename F>
  void forEach(int c, F f) const {
    for (std::size_t k = cand_elems_.begin[at(c)]; k < cand_elems_.begin[at(c) + 1]; ++k) {
      f(cand_elems_.items[k]);
    }
  }

  const Incidence& cand_elems_;
  const std::vector<char>& open_;
  std::vector<int> count_;
  int uncovered_ = 0;
};

}  // namespace

std::vector<int> lagrangianCover(const Incidence& cand_elems, const Incidence& elem_cands,
                                 const std::vector<char>& open, const std::vector<char>& usable,
                                 const std::vector<double>& reduced, const Deadline& deadline) {
  CoverCount count(cand_elems, open);
  std::vector<int> chosen;
  for (std::size_t c = 0; c < usable.size(); ++c) {
    if (deadline.passedAfter(cand_elems.begin[c + 1] - cand_elems.begin[c] + 1)) {
      return {};
    }
    if (usable[c] != 0 && reduced[c] < 0.0 && count.newlyCovered(static_cast<int>(c)) > 0) {
      chosen.push_back(static_cast<int>(c));
      count.add(static_cast<int>(c), 1);
    }
  }
  for (std::size_t e = 0; e < open.size() && count.uncovered() > 0; ++e) {
    if (!count.needs(static_cast<int>(e))) {
      continue;
    }
    int best = -1;
    int best_gain = 0;
    for (std::size_t k = elem_cands.begin[e]; k < elem_cands.begin[e + 1]; ++k) {
      const int c = elem_cands.items[k];
      if (usable[at(c)] == 0) {
        continue;
      }
      if (deadline.passedAfter(cand_elems.begin[at(c) + 1] - cand_elems.begin[at(c)] + 1)) {
        return {};
      }
      const int gain = count.newlyCovered(c);
      if (gain > best_gain ||
          (gain == best_gain && best >= 0 && reduced[at(c)] < reduced[at(best)])) {
        best = c;
        best_gain = gain;
      }
    }
    if (best < 0) {
      return {};
    }
    chosen.push_back(best);
    count.add(best, 1);
  }
  std::stable_sort(chosen.begin(), chosen.end(),
                   [&reduced](int a, int b) { return reduced[at(a)] > reduced[at(b)]; });
  std::vector<int> kept;
  for (const int c : chosen) {
    if (count.redundant(c)) {
      count.add(c, -1);
    } else {
      kept.push_back(c);
    }
  }
  return kept;
}

namespace {

// The state of the weighted local search. A candidate's score is, in the cover, minus the
// weight of the elements only it covers (what dropping it loses), and outside the cover
// the weight of the uncovered elements it covers (what adding it gains).
class WeightedSwapSearch {
 public:
  WeightedSwapSearch(const Incidence& cand_elems, const Incidence& elem_cands,
                     const std::vector<char>& open, const std::vector<char>& usable)
      : cand_elems_(cand_elems),
        elem_cands_(elem_cands),
        open_(open),
        usable_(usable),
        weight_(open.size(), 1),
        count_(open.size(), 0),
        uncovered_at_(open.size(), -1),
        score_(usable.size(), 0),
        in_cover_(usable.size(), 0),
        may_add_(usable.size(), 1),
        changed_at_(usable.size(), 0) {
    for (std::size_t e = 0; e < open.size(); ++e) {
      if (open[e] != 0) {
        markUncovered(static_cast<int>(e));
        forEachCand(static_cast<int>(e), [&](int c) { ++score_[at(c)]; });
      }
    }
  }

  std::vector<int> run(const std::vector<int>& start, long long steps, std::uint64_t seed,
                       const Deadline& deadline) {
    for (const int c : start) {
      if (deadline.passedAfter(cand_elems_.begin[at(c) + 1] - cand_elems_.begin[at(c)] + 1)) {
        return {};
      }
      add(c);
    }
    std::vector<int> best;  // the smallest cover met; empty while none was
    const auto record = [&] {
      if (best.empty() || members_.size() < best.size()) {
        best = members_;
      }
    };
    if (uncovered_.empty()) {
      record();
    }
    std::uint64_t random = seed * 0x9E3779B97F4A7C15ULL + 1;  // xorshift needs a non-zero state
    for (long long step = 0; step < steps; ++step) {
      if (step % 64 == 0 && deadline.passed()) {
        break;
      }
      while (uncovered_.empty() && !members_.empty()) {
        record();
        remove(bestMember(-1));
      }
      if (members_.empty()) {
        break;
      }
      remove(bestMember(last_added_));
      random ^= random << 13;
      random ^= random >> 7;
      random ^= random << 17;
      const int e = uncovered_[static_cast<std::size_t>(random % uncovered_.size())];
      const int c = bestAddition(e);
      if (c < 0) {
        break;
      }
      add(c);
      last_added_ = c;
      for (const int u : uncovered_) {
        ++weight_[at(u)];
        forEachCand(u, [&](int d) { ++score_[at(d)]; });
      }
    }
    if (uncovered_.empty()) {
      record();
    }
    return best;
  }

 private:
  // Calls f on each entry of x's list that `keep` marks.
  template <typename F>
  static void forEachKept(const Incidence& lists, int x, const std::vector<char>& keep, F f) {
    for (std::size_t k = lists.begin[at(x)]; k < lists.begin[at(x) + 1]; ++k) {
      if (keep[at(lists.items[k])] != 0) {
        f(lists.items[k]);
      }
    }
  }
  template <typename F>
  void forEachCand(int e, F f) const {
    forEachKept(elem_cands_, e, usable_, f);
  }
  template <typename F>
  void forEachElem(int c, F f) const {
    forEachKept(cand_elems_, c, open_, f);
  }

  void markUncovered(int e) {
    uncovered_at_[at(e)] = static_cast<int>(uncovered_.size());
    uncovered_.push_back(e);
  }
  void markCovered(int e) {
    const int slot = uncovered_at_[at(e)];
    uncovered_[at(slot)] = uncovered_.back();
    uncovered_at_[at(uncovered_.back())] = slot;
    uncovered_.pop_back();
    uncovered_at_[at(e)] = -1;
  }
  // The one candidate other than `except` in the cover that covers e.
  int soleCover(int e, int except) const {
    int sole = -1;
    forEachCand(e, [&](int c) { sole = in_cover_[at(c)] != 0 && c != except ? c : sole; });
    return sole;
  }

  void add(int c) {
    in_cover_[at(c)] = 1;
    members_.push_back(c);
    score_[at(c)] = 0;
    forEachElem(c, [&](int e) {
      if (count_[at(e)] == 0) {
        markCovered(e);
        forEachCand(e, [&](int d) { score_[at(d)] -= d == c ? 0 : weight_[at(e)]; });
        score_[at(c)] -= weight_[at(e)];
      } else if (count_[at(e)] == 1) {
        score_[at(soleCover(e, c))] += weight_[at(e)];
      }
      ++count_[at(e)];
    });
    touch(c);
  }

  void remove(int c) {
    in_cover_[at(c)] = 0;
    members_.erase(std::find(members_.begin(), members_.end(), c));
    score_[at(c)] = 0;
    forEachElem(c, [&](int e) {
      --count_[at(e)];
      if (count_[at(e)] == 0) {
        markUncovered(e);
        forEachCand(e, [&](int d) { score_[at(d)] += weight_[at(e)]; });
      } else if (count_[at(e)] == 1) {
        score_[at(soleCover(e, c))] -= weight_[at(e)];
      }
    });
    touch(c);
    may_add_[at(c)] = 0;
  }

  // A change of c frees its neighbours to be added again (configuration checking).
  void touch(int c) {
    changed_at_[at(c)] = ++clock_;
    forEachElem(c, [&](int e) { forEachCand(e, [&](int d) { may_add_[at(d)] = 1; }); });
  }

  int bestMember(int spare) const {
    int best = -1;
    for (const int c : members_) {
      if (c != spare &&
          (best < 0 || score_[at(c)] > score_[at(best)] ||
           (score_[at(c)] == score_[at(best)] && changed_at_[at(c)] < changed_at_[at(best)]))) {
        best = c;
      }
    }
    return best < 0 ? members_.front() : best;
  }

  int bestAddition(int e) const {
    int best = -1;
    forEachCand(e, [&](int c) {
      if (may_add_[at(c)] == 0) {
        return;
      }
      if (best < 0 || score_[at(c)] > score_[at(best)] ||
          (score_[at(c)] == score_[at(best)] && changed_at_[at(c)] < changed_at_[at(best)])) {
        best = c;
      }
    });
    if (best < 0) {
      forEachCand(e, [&](int c) { best = best < 0 ? c : best; });
    }
    return best;
  }

  const Incidence& cand_elems_;
  const Incidence& elem_cands_;
  const std::vector<char>& open_;
  const std::vector<char>& usable_;
  std::vector<long long> weight_;
  std::vector<int> count_;
  std::vector<int> uncovered_;
  std::vector<int> uncovered_at_;
  std::vector<long long> score_;
  std::vector<char> in_cover_;
  std::vector<char> may_add_;
  std::vector<long long> changed_at_;
  std::vector<int> members_;
  long long clock_ = 0;
  int last_added_ = -1;
};

}  // namespace

std::vector<int> improveCover(const Incidence& cand_elems, const Incidence& elem_cands,
                              const std::vector<char>& open, const std::vector<char>& usable,
                              const std::vector<int>& start, long long steps, unsigned seed,
                              const Deadline& deadline) {
  return WeightedSwapSearch(cand_elems, elem_cands, open, usable).run(start, steps, seed, deadline);
}

}  // namespace detail
}  // namespace vantorel_base_utils
