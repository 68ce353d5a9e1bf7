// SPDX-License-Identifier: Apache-2.0
// The public members of SetCoverSolver<T>: dispatch, the three methods over the dense
// instance, and the search-state primitives doSelect, undoSelect and propagateDeg1.
#include "vantorel_base_utils/set_cover.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <string>
#include <utility>

#include "optimization/branch_and_bound.hpp"
#include "optimization/deadline.hpp"
#include "optimization/dense_instance.hpp"
#include "optimization/greedy.hpp"
#include "optimization/ilp.hpp"
#include "optimization/set_cover_internal.hpp"

namespace vantorel_base_utils {

namespace {

using detail::Deadline;
using detail::DenseInstance;

template <typename Solver>
typename Solver::PropCtx searchContext(const DenseInstance& d, const Deadline& deadline) {
  typename Solver::PropCtx ctx;
  ctx.elems.resize(static_cast<std::size_t>(d.num_elems));
  ctx.cands.resize(d.ids.size());
  // Lists made at their final size, in element order, are allocated once each and lie in
  // memory in the order they are freed: building and dropping a million of them is then
  // several times faster than by growing them entry by entry.
  std::vector<std::size_t> degree(ctx.elems.size(), 0);
  for (const int e : d.elems) {
    ++degree[static_cast<std::size_t>(e)];
  }
  for (std::size_t e = 0; e < degree.size(); ++e) {
    deadline.check(4);
    ctx.elems[e].cands.reserve(degree[e]);
  }
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    ctx.cands[c].elems.reserve(d.elem_begin[c + 1] - d.elem_begin[c]);
  }
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    deadline.check(4 * (d.elem_begin[c + 1] - d.elem_begin[c]) + 1);
    for (std::size_t k = d.elem_begin[c]; k < d.elem_begin[c + 1]; ++k) {
      const int e = d.elems[k];
      ctx.elems[static_cast<std::size_t>(e)].cands.push_back(static_cast<int>(c));
      ctx.cands[c].elems.push_back(e);
    }
  }
  // The same comparisons as on the records themselves, so the same order, read from one
  // compact array. The sort cannot be stopped half way; it takes a small share of the set-up.
  deadline.check(degree.size());
  ctx.order.resize(ctx.elems.size());
  std::iota(ctx.order.begin(), ctx.order.end(), 0);
  std::sort(ctx.order.begin(), ctx.order.end(), [&degree](int a, int b) {
    return degree[static_cast<std::size_t>(a)] < degree[static_cast<std::size_t>(b)];
  });
  ctx.num_uncovered = d.num_elems;
  return ctx;
}

// Selects the only candidate of every element of degree 1, in `order`: the selections, in the
// same order, that the search's first propagation makes, where nothing else can be forced
// (an element's candidates stay unselected until one of them covers it). One pass, where the
// propagation rescans `order` after each selection.
template <typename Solver>
void selectOnlyCandidates(typename Solver::PropCtx& ctx, const Deadline& deadline) {
  for (const int e : ctx.order) {
    const auto& element = ctx.elems[static_cast<std::size_t>(e)];
    if (element.cands.size() != 1) {
      break;  // `order` is by ascending degree
    }
    deadline.check(1);
    if (!element.covered) {
      Solver::doSelect(ctx, element.cands.front());
    }
  }
}

// No cover has fewer candidates than the elements divided by the largest candidate's size.
int largestCandidateBound(const DenseInstance& d) {
  std::size_t largest = 0;
  for (std::size_t c = 0; c + 1 < d.elem_begin.size(); ++c) {
    largest = std::max(largest, d.elem_begin[c + 1] - d.elem_begin[c]);
  }
  if (largest == 0) {
    return 0;
  }
  return static_cast<int>((static_cast<std::size_t>(d.num_elems) + largest - 1) / largest);
}

// The greedy pick the exact methods start from, as ids and as candidate indices of `d`. It is
// no cover when a negative id ended the picking.
struct GreedyStart {
  std::vector<int> ids;
  std::vector<int> indices;
  bool complete = false;

  // The ids when they cover the instance, else none.
  std::vector<int> cover() const { return complete ? ids : std::vector<int>{}; }
};

GreedyStart greedyStart(const DenseInstance& d, const Deadline& deadline) {
  GreedyStart start;
  start.ids = detail::greedyCover(d, false, deadline, &start.complete);
  for (const int id : start.ids) {
    const auto index = std::lower_bound(d.ids.begin(), d.ids.end(), id) - d.ids.begin();
    start.indices.push_back(static_cast<int>(index));
  }
  return start;
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
  // The columns of candidates `ids` (ascending, each with elements).
  std::vector<int> columnsOf(const std::vector<int>& ids) const {
    std::vector<int> columns;
    for (const int id : ids) {
      const auto column = std::lower_bound(column_ids.begin(), column_ids.end(), id);
      columns.push_back(static_cast<int>(column - column_ids.begin()));
    }
    return columns;
  }
};

CoveringProgram coveringProgram(const DenseInstance& d, const Deadline& deadline = Deadline()) {
  CoveringProgram program;
  program.num_rows = d.num_elems;
  for (std::size_t c = 0; c < d.ids.size(); ++c) {
    deadline.check(d.elem_begin[c + 1] - d.elem_begin[c] + 1);
    const auto first = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c]);
    const auto last = d.elems.begin() + static_cast<std::ptrdiff_t>(d.elem_begin[c + 1]);
    if (first != last) {
      program.column_ids.push_back(d.ids[c]);
      program.col_rows.emplace_back(first, last);
    }
  }
  return program;
}

// What the exact search ended with.
struct SearchAnswer {
  std::vector<int> ids;  // ascending; empty when the deadline passed before any cover
  detail::SearchReport report;
  int bound = 0;        // the largest-candidate bound of the instance
  bool greedy = false;  // ids are the greedy start
};

// The exact search within `limits`; the deadline also bounds the set-up (numbering, the
// greedy start, the search's own tables), which throws DeadlinePassed when it passes.
template <typename T>
SearchAnswer propagateWithin(const std::map<int, std::set<T>>& candidates,
                             const detail::SearchLimits& limits) {
  using Solver = SetCoverSolver<T>;
  SearchAnswer answer;
  if (candidates.empty()) {
    return answer;
  }
  DenseInstance d;
  GreedyStart greedy;
  std::vector<int> best_sol;
  int best_size = 0;
  try {
    d = detail::denseInstance(candidates, limits.deadline);
    if (d.num_elems == 0) {
      return answer;
    }
    greedy = greedyStart(d, limits.deadline);
    best_sol = greedy.indices;
    best_size = static_cast<int>(best_sol.size());
    answer.bound = largestCandidateBound(d);
    typename Solver::PropCtx ctx = searchContext<Solver>(d, limits.deadline);
    selectOnlyCandidates<Solver>(ctx, limits.deadline);
    answer.report = detail::branchAndBound<Solver>(ctx, best_size, best_sol, limits);
  } catch (const detail::DeadlinePassed&) {
    answer.report = {};
    answer.report.finished = false;
  }
  if (!answer.report.heuristic_cover.empty() &&
      static_cast<int>(answer.report.heuristic_cover.size()) < best_size) {
    best_sol = answer.report.heuristic_cover;  // a limit stopped the search before it got there
  }
  for (const int index : best_sol) {
    answer.ids.push_back(d.ids[static_cast<std::size_t>(index)]);
  }
  std::sort(answer.ids.begin(), answer.ids.end());
  answer.greedy = !answer.ids.empty() && answer.ids == greedy.ids;
  return answer;
}

// The lower bound a stopped method reports: the better of its own and `bound`, at most the
// size of its cover.
int stoppedBound(int own, int bound, const std::vector<int>& ids) {
  return std::min(static_cast<int>(ids.size()), std::max(own, bound));
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
  return propagateWithin(candidates, limits).ids;
}

template <typename T>
SetCoverResult SetCoverSolver<T>::solveByPropagate(const Candidates& candidates,
                                                   const SetCoverOptions& options) {
  detail::SearchLimits limits;
  limits.deadline = Deadline::after(options.time_limit_seconds);
  limits.seek_incumbent = true;
  limits.max_nodes = std::max(0LL, options.node_limit);
  const SearchAnswer answer = propagateWithin(candidates, limits);
  SetCoverResult result;
  result.ids = answer.ids;
  const auto size = static_cast<int>(result.ids.size());
  result.lower_bound = answer.report.finished
                           ? size
                           : stoppedBound(answer.report.lower_bound, answer.bound, result.ids);
  result.proven_minimal = result.lower_bound == size && (answer.report.finished || size > 0);
  result.nodes = answer.report.nodes;
  result.limit_reached = !answer.report.finished;
  result.greedy_cover = answer.greedy;
  return result;
}

template <typename T>
std::vector<int> SetCoverSolver<T>::solveByILP(const Candidates& candidates) {
  if (candidates.empty()) {
    return {};
  }
  const CoveringProgram program = coveringProgram(detail::denseInstance(candidates));
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
  detail::IlpLimits limits;
  limits.deadline = Deadline::after(options.time_limit_seconds);
  limits.node_limit = std::max(0LL, options.node_limit);
  DenseInstance d;
  GreedyStart greedy;
  CoveringProgram program;
  detail::IlpOutcome outcome;
  try {
    d = detail::denseInstance(candidates, limits.deadline);
    if (d.num_elems == 0) {
      return result;
    }
    greedy = greedyStart(d, limits.deadline);
    program = coveringProgram(d, limits.deadline);
    limits.start = program.columnsOf(greedy.cover());
    outcome = detail::solveILPWithin(program.numCols(), program.num_rows, program.col_rows, limits);
  } catch (const detail::DeadlinePassed&) {
    outcome.stopped = true;
  }
  // GLPK's cover unless it has none or a larger one than the greedy start it was offered.
  const std::vector<int> glpk_ids = program.idsOf(outcome.chosen);
  const std::vector<int> greedy_cover = greedy.cover();
  const bool keep_greedy =
      !greedy_cover.empty() && (glpk_ids.empty() || glpk_ids.size() > greedy_cover.size());
  result.ids = keep_greedy ? greedy_cover : glpk_ids;
  const auto size = static_cast<int>(result.ids.size());
  const bool solved = outcome.optimal && !keep_greedy;
  result.lower_bound =
      solved ? size : stoppedBound(outcome.lower_bound, largestCandidateBound(d), result.ids);
  result.proven_minimal = size > 0 && result.lower_bound == size;
  result.nodes = outcome.nodes;
  result.limit_reached = outcome.stopped;
  result.greedy_cover = !result.ids.empty() && result.ids == greedy_cover;
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
  SearchAnswer answer = propagateWithin(candidates, limits);
  report = std::move(answer.report);
  return std::move(answer.ids);
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
