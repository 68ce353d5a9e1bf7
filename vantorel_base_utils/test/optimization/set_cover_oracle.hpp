// SPDX-License-Identifier: Apache-2.0
// Literal, deliberately slow implementations of the set cover methods: each step written
// the obvious way, so that the library's fast methods can be checked against them id for
// id. Shared by the tests and the benchmark.
#ifndef VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_ORACLE_HPP_
#define VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_ORACLE_HPP_

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>
#include <vector>

namespace set_cover_oracle {

template <typename T>
using Candidates = std::map<int, std::set<T>>;

// Rescans every remaining candidate and recounts its gain for every pick. Ids must be
// non-negative.
template <typename T>
std::vector<int> greedy(const Candidates<T>& candidates, bool prefer_nearby) {
  if (candidates.empty()) {
    return {};
  }
  std::set<T> uncovered;
  for (const auto& entry : candidates) {
    uncovered.insert(entry.second.begin(), entry.second.end());
  }
  if (uncovered.empty()) {
    return {};
  }
  Candidates<T> remaining = candidates;
  int last_selected = -1;
  std::vector<int> selected;
  while (!uncovered.empty()) {
    if (remaining.empty()) {
      break;
    }
    int best = -1;
    int best_gain = 0;
    int best_dist = INT_MAX;
    for (const auto& entry : remaining) {
      int gain = 0;
      for (const T& e : entry.second) {
        gain += uncovered.count(e) != 0 ? 1 : 0;
      }
      if (gain == 0) {
        continue;
      }
      if (gain > best_gain) {
        best = entry.first;
        best_gain = gain;
        if (last_selected >= 0) {
          best_dist = std::abs(entry.first - last_selected);
        }
      } else if (gain == best_gain && prefer_nearby && last_selected >= 0) {
        const int dist = std::abs(entry.first - last_selected);
        if (dist < best_dist) {
          best = entry.first;
          best_dist = dist;
        }
      }
    }
    if (best < 0) {
      break;
    }
    selected.push_back(best);
    for (const T& e : remaining[best]) {
      uncovered.erase(e);
    }
    remaining.erase(best);
    last_selected = best;
  }
  std::sort(selected.begin(), selected.end());
  return selected;
}

// The search on any context type with the fields of SetCoverSolver<T>::PropCtx. It counts
// the nodes it visits.
template <typename Ctx>
struct LiteralSearch {
  struct Undo {
    int cand;
    std::vector<int> newly_covered;
  };

  Ctx& ctx;
  long long nodes = 0;

  Undo select(int cand) {
    Undo rec{cand, {}};
    ctx.cands[cand].selected = true;
    ctx.num_selected += 1;
    ctx.chosen.push_back(cand);
    for (int e : ctx.cands[cand].elems) {
      if (!ctx.elems[e].covered) {
        ctx.elems[e].covered = true;
        ctx.num_uncovered -= 1;
        rec.newly_covered.push_back(e);
      }
    }
    return rec;
  }

  void unselect(const Undo& rec) {
    for (int e : rec.newly_covered) {
      ctx.elems[e].covered = false;
      ctx.num_uncovered += 1;
    }
    ctx.cands[rec.cand].selected = false;
    ctx.num_selected -= 1;
    ctx.chosen.pop_back();
  }

  std::vector<Undo> propagate(bool& infeasible) {
    infeasible = false;
    std::vector<Undo> recs;
    std::size_t i = 0;
    while (i < ctx.order.size()) {
      const int e = ctx.order[i];
      if (ctx.elems[e].covered) {
        ++i;
        continue;
      }
      std::vector<int> free_cands;
      for (int c : ctx.elems[e].cands) {
        if (!ctx.cands[c].selected) {
          free_cands.push_back(c);
        }
      }
      if (free_cands.empty()) {
        infeasible = true;
        return recs;
      }
      if (free_cands.size() == 1) {
        recs.push_back(select(free_cands[0]));
        i = 0;
        continue;
      }
      ++i;
    }
    return recs;
  }

  void search(int& best_size, std::vector<int>& best_sol) {
    ++nodes;
    bool infeasible = false;
    std::vector<Undo> recs = propagate(infeasible);
    if (!infeasible) {
      branch(best_size, best_sol);
    }
    for (auto it = recs.rbegin(); it != recs.rend(); ++it) {
      unselect(*it);
    }
  }

  void branch(int& best_size, std::vector<int>& best_sol) {
    if (ctx.num_uncovered == 0) {
      if (ctx.num_selected < best_size) {
        best_size = ctx.num_selected;
        best_sol = ctx.chosen;
      }
      return;
    }
    if (ctx.num_selected + 1 >= best_size) {
      return;
    }
    int max_gain = 0;
    for (std::size_t c = 0; c < ctx.cands.size(); ++c) {
      if (ctx.cands[c].selected) {
        continue;
      }
      int gain = 0;
      for (int e : ctx.cands[c].elems) {
        gain += ctx.elems[e].covered ? 0 : 1;
      }
      max_gain = std::max(max_gain, gain);
    }
    if (max_gain > 0 &&
        ctx.num_selected + (ctx.num_uncovered + max_gain - 1) / max_gain >= best_size) {
      return;
    }
    int branch_elem = -1;
    for (int e : ctx.order) {
      if (!ctx.elems[e].covered) {
        branch_elem = e;
        break;
      }
    }
    if (branch_elem < 0) {
      return;
    }
    for (int c : ctx.elems[branch_elem].cands) {
      if (!ctx.cands[c].selected) {
        Undo rec = select(c);
        search(best_size, best_sol);
        unselect(rec);
      }
    }
  }
};

// The search context of the exact method: elements numbered in ascending order,
// candidates in ascending id order (their ids go to `cand_ids`), `order` by ascending
// degree.
template <typename Ctx, typename T>
Ctx literalContext(const Candidates<T>& candidates, std::vector<int>& cand_ids) {
  std::set<T> universe;
  for (const auto& entry : candidates) {
    universe.insert(entry.second.begin(), entry.second.end());
  }
  std::map<T, int> elem_index;
  for (const T& e : universe) {
    const int next = static_cast<int>(elem_index.size());
    elem_index[e] = next;
  }
  Ctx ctx;
  ctx.elems.resize(universe.size());
  ctx.cands.resize(candidates.size());
  ctx.num_uncovered = static_cast<int>(universe.size());
  ctx.num_selected = 0;
  cand_ids.clear();
  for (const auto& entry : candidates) {
    const int c = static_cast<int>(cand_ids.size());
    cand_ids.push_back(entry.first);
    for (const T& e : entry.second) {
      ctx.elems[elem_index[e]].cands.push_back(c);
      ctx.cands[c].elems.push_back(elem_index[e]);
    }
  }
  ctx.order.resize(universe.size());
  std::iota(ctx.order.begin(), ctx.order.end(), 0);
  std::sort(ctx.order.begin(), ctx.order.end(), [&ctx](int a, int b) {
    return ctx.elems[static_cast<std::size_t>(a)].cands.size() <
           ctx.elems[static_cast<std::size_t>(b)].cands.size();
  });
  return ctx;
}

// The exact method step by step. Ctx is SetCoverSolver<T>::PropCtx (only its fields are
// used). Returns the ids and, through `nodes`, the number of search nodes.
template <typename Ctx, typename T>
std::vector<int> propagate(const Candidates<T>& candidates, long long* nodes = nullptr) {
  if (candidates.empty()) {
    return {};
  }
  std::vector<int> cand_ids;
  Ctx ctx = literalContext<Ctx>(candidates, cand_ids);
  if (ctx.elems.empty()) {
    return {};
  }
  std::unordered_map<int, int> cand_index;
  for (std::size_t c = 0; c < cand_ids.size(); ++c) {
    cand_index[cand_ids[c]] = static_cast<int>(c);
  }
  std::vector<int> best_sol;
  for (int id : greedy(candidates, false)) {
    best_sol.push_back(cand_index[id]);
  }
  int best_size = static_cast<int>(best_sol.size());
  LiteralSearch<Ctx> search{ctx};
  search.search(best_size, best_sol);
  if (nodes != nullptr) {
    *nodes = search.nodes;
  }
  std::vector<int> ids;
  for (int c : best_sol) {
    ids.push_back(cand_ids[c]);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The smallest cover size by trying every subset; for at most 20 candidates and 64
// elements.
template <typename T>
int bruteForceMinimum(const Candidates<T>& candidates) {
  std::map<T, int> elem_index;
  for (const auto& entry : candidates) {
    for (const T& e : entry.second) {
      elem_index.emplace(e, static_cast<int>(elem_index.size()));
    }
  }
  std::vector<std::uint64_t> masks;
  for (const auto& entry : candidates) {
    std::uint64_t mask = 0;
    for (const T& e : entry.second) {
      mask |= std::uint64_t{1} << elem_index.at(e);
    }
    masks.push_back(mask);
  }
  const std::uint64_t universe =
      elem_index.size() == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << elem_index.size()) - 1;
  int best = static_cast<int>(masks.size());
  for (std::uint32_t subset = 0; subset < (1u << masks.size()); ++subset) {
    std::uint64_t covered = 0;
    for (std::size_t c = 0; c < masks.size(); ++c) {
      if ((subset >> c) & 1u) {
        covered |= masks[c];
      }
    }
    if (covered == universe) {
      best = std::min(best, __builtin_popcount(subset));
    }
  }
  return best;
}

// Whether the ids are distinct, ascending, name candidates of the instance and cover its
// universe.
template <typename T>
bool isSortedCover(const Candidates<T>& candidates, const std::vector<int>& ids) {
  if (std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<int>()) != ids.end()) {
    return false;
  }
  std::set<T> universe;
  std::set<T> covered;
  for (const auto& entry : candidates) {
    universe.insert(entry.second.begin(), entry.second.end());
  }
  for (int id : ids) {
    const auto it = candidates.find(id);
    if (it == candidates.end()) {
      return false;
    }
    covered.insert(it->second.begin(), it->second.end());
  }
  return covered == universe;
}

}  // namespace set_cover_oracle

#endif  // VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_ORACLE_HPP_
