// SPDX-License-Identifier: Apache-2.0
// The public members of SetCoverSolver<T>: dispatch, the three methods over the dense
// instance, and the search-state primitives doSelect, undoSelect and propagateDeg1.
#include "vantorel_base_utils/set_cover.hpp"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <numeric>
#include <string>

#include "optimization/branch_and_bound.hpp"
#include "optimization/dense_instance.hpp"
#include "optimization/greedy.hpp"
#include "optimization/ilp.hpp"
#include "optimization/set_cover_internal.hpp"

namespace vantorel_base_utils {

namespace {

using detail::DenseInstance;

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

// The deadline `seconds` from now; false when there is none (zero, negative, not a number
// or too far to represent).
bool deadlineAfter(double seconds, std::chrono::steady_clock::time_point& deadline) {
  if (!(seconds > 0.0) || seconds > 1e9) {
    return false;
  }
  deadline = std::chrono::steady_clock::now() +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double>(seconds));
  return true;
}

// The 0/1 program of an instance: a column for each candidate with elements, in ascending
// id order, listing its elements' dense indices.
struct CoveringProgram {
  std::vector<int> column_ids;
  std::vector<std::vector<int>> col_rows;
  int num_rows = 0;

  int numCols() const { return static_cast<int>(column_ids.size()); }
  std::vector<int> idsOf(const std::vector<int>& columns) const {
    std::vector<int> ids;
    for (const int column : columns) {
      ids.push_back(column_ids[static_cast<std::size_t>(column)]);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
  }
};

template <typename T>
CoveringProgram coveringProgram(const std::map<int, std::set<T>>& candidates) {
  const DenseInstance d = detail::denseInstance(candidates);
  CoveringProgram program;
  program.num_rows = d.num_elems;
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    const auto first = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c]);
    const auto last = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c + 1]);
    if (first != last) {
      program.column_ids.push_back(d.ids[c]);
      program.col_rows.emplace_back(first, last);
    }
  }
  return program;
}

template <typename T>
std::vector<int> propagateCover(const std::map<int, std::set<T>>& candidates,
                                const detail::SearchLimits& limits, detail::SearchReport& report) {
  using Solver = SetCoverSolver<T>;
  report = {};
  if (candidates.empty()) {
    return {};
  }
  const DenseInstance d = detail::denseInstance(candidates);
  if (d.num_elems == 0) {
    return {};
  }
  typename Solver::PropCtx ctx = searchContext<Solver>(d);
  std::vector<int> best_sol;
  for (const int id : detail::greedyCover(d, false)) {
    const auto index = std::lower_bound(d.ids.begin(), d.ids.end(), id) - d.ids.begin();
    best_sol.push_back(static_cast<int>(index));
  }
  int best_size = static_cast<int>(best_sol.size());
  report = detail::branchAndBound<Solver>(ctx, best_size, best_sol, limits);
  if (!report.heuristic_cover.empty() &&
      static_cast<int>(report.heuristic_cover.size()) < best_size) {
    best_sol = report.heuristic_cover;  // a limit stopped the search before it got there
  }
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
  return detail::greedyCover(detail::denseInstance(candidates), prefer_nearby);
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByPropagate(const Candidates& candidates) {
  detail::SearchLimits limits;
  limits.seek_incumbent = true;
  detail::SearchReport report;
  return propagateCover(candidates, limits, report);
}

template <typename T>
SetCoverResult SetCoverSolver<T>::solveByPropagate(const Candidates& candidates,
                                                   const SetCoverOptions& options) {
  detail::SearchLimits limits;
  limits.seek_incumbent = true;
  limits.has_deadline = deadlineAfter(options.time_limit_seconds, limits.deadline);
  limits.max_nodes = std::max(0LL, options.node_limit);
  detail::SearchReport report;
  SetCoverResult result;
  result.ids = propagateCover(candidates, limits, report);
  const int size = static_cast<int>(result.ids.size());
  result.lower_bound = report.finished ? size : std::min(report.lower_bound, size);
  result.proven_minimal = result.lower_bound == size;
  result.nodes = report.nodes;
  return result;
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByILP(const Candidates& candidates) {
  if (candidates.empty()) {
    return {};
  }
  const CoveringProgram program = coveringProgram(candidates);
  if (program.num_rows == 0) {
    return {};
  }
  return program.idsOf(solveILP(program.numCols(), program.num_rows, program.col_rows));
}

template <typename T>
SetCoverResult SetCoverSolver<T>::solveByILP(const Candidates& candidates,
                                             const SetCoverOptions& options) {
  SetCoverResult result;
  result.proven_minimal = true;
  if (candidates.empty()) {
    return result;
  }
  const CoveringProgram program = coveringProgram(candidates);
  if (program.num_rows == 0) {
    return result;
  }
  const detail::IlpOutcome outcome =
      detail::solveILPWithin(program.numCols(), program.num_rows, program.col_rows, options);
  result.ids = program.idsOf(outcome.chosen);
  result.lower_bound = outcome.lower_bound;
  result.proven_minimal = outcome.optimal;
  result.nodes = outcome.nodes;
  return result;
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
  detail::branchAndBound<SetCoverSolver<T>>(ctx, best_size, best_sol, detail::SearchLimits{});
}

namespace detail {

template <typename T>
std::vector<int> solveByPropagateReported(const std::map<int, std::set<T>>& candidates,
                                          const SearchLimits& limits, SearchReport& report) {
  return propagateCover(candidates, limits, report);
}

template std::vector<int> solveByPropagateReported(const std::map<int, std::set<int>>&,
                                                   const SearchLimits&, SearchReport&);
template std::vector<int> solveByPropagateReported(const std::map<int, std::set<std::string>>&,
                                                   const SearchLimits&, SearchReport&);
template std::vector<int> solveByPropagateReported(const std::map<int, std::set<unsigned long>>&,
                                                   const SearchLimits&, SearchReport&);

}  // namespace detail

template class SetCoverSolver<int>;
template class SetCoverSolver<std::string>;
template class SetCoverSolver<unsigned long>;

}  // namespace vantorel_base_utils
