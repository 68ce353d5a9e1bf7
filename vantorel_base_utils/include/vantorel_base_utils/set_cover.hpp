// SPDX-License-Identifier: Apache-2.0
// Set cover: pick a small group of candidates that together cover every element that any
// candidate covers. An instance maps candidate ids (non-negative) to the elements each
// candidate covers; every method returns the selected ids, each once, in ascending order.
//
// SetCoverSolver<T> is provided for exactly int, std::string and unsigned long elements.
// All members are static and keep no state between calls, so calls may run concurrently
// (also on one shared instance).
//
// The exact methods are exponential in the worst case. Their plain calls run to the end;
// the overloads taking SetCoverOptions stop at a time or node limit and report the best
// cover found so far with a lower bound. They start from the greedy cover, so a stopped one
// never returns a larger cover than greedy's, and they say when they return greedy's.
#ifndef VANTOREL_BASE_UTILS__SET_COVER_HPP_
#define VANTOREL_BASE_UTILS__SET_COVER_HPP_

#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

// Any value outside the three enumerators selects Greedy.
enum class SolveMethod : int { Greedy = 0, ILP = 1, Propagate = 2 };

// Limits of an exact method; zero means no limit.
struct SetCoverOptions {
  // Wall time from the call, the whole call included (numbering the instance, the greedy
  // start, the search's or GLPK's set-up); kept within 10% + 0.1 s on instances of any size.
  double time_limit_seconds = 0.0;
  long long node_limit = 0;  // branch-and-bound nodes
};

// What an exact method with limits found.
struct SetCoverResult {
  // The smallest cover found, ascending; never larger than the greedy cover. Empty only for
  // an instance without elements, or when the time limit passed before the greedy cover was
  // complete.
  std::vector<int> ids;
  int lower_bound = 0;          // no cover has fewer candidates
  bool proven_minimal = false;  // no cover has fewer candidates than ids
  long long nodes = 0;          // branch-and-bound nodes searched
  bool limit_reached = false;   // a time or node limit stopped the method before it finished
  // ids are not empty and are solveByGreedy(candidates, false): the exact method found no
  // smaller cover (or proved that none exists) before it finished or was stopped.
  bool greedy_cover = false;
};

template <typename T>
class SetCoverSolver {
  static_assert(std::is_same_v<T, int> || std::is_same_v<T, std::string> ||
                    std::is_same_v<T, unsigned long>,
                "SetCoverSolver is compiled for int, std::string and unsigned long elements only");

 public:
  using Candidates = std::map<int, std::set<T>>;

  // Search state of the exact method, over dense element and candidate indices. These records
  // and the search steps below stay public members: callers drive and inspect the literal
  // search through them (tests and tools hand-build contexts), so their names are API.
  struct ElemRec {
    bool covered = false;
    std::vector<int> cands;  // candidates that cover this element, ascending
  };
  struct CandRec {
    bool selected = false;
    std::vector<int> elems;  // elements this candidate covers, ascending
  };
  struct PropCtx {
    std::vector<ElemRec> elems;
    std::vector<CandRec> cands;
    std::vector<int> order;  // element indices by ascending degree
    int num_uncovered = 0;
    int num_selected = 0;
    std::vector<int> chosen;  // selected candidate indices, in selection order
  };
  // One selection and the elements it newly covered, to take it back exactly.
  struct UndoRec {
    int cand = -1;
    std::vector<int> newly_covered;
  };

  // prefer_nearby reaches only the greedy method.
  VANTOREL_BASE_UTILS_PUBLIC static std::vector<int> solve(const Candidates& candidates,
                                                           SolveMethod method, bool prefer_nearby);

  // Repeatedly takes the candidate covering the most uncovered elements. Ties go to the
  // smallest id, or with prefer_nearby (from the second pick on) to the id nearest the
  // previous pick, the smaller id at equal distance. No redundant picks are dropped.
  // A negative id that wins a pick ends the picking: the ids picked before it are returned.
  VANTOREL_BASE_UTILS_PUBLIC static std::vector<int> solveByGreedy(const Candidates& candidates,
                                                                   bool prefer_nearby);

  // A cover with the fewest candidates: branch-and-bound seeded with the greedy cover,
  // which is kept when already minimal; otherwise the first minimal cover reached
  // depth-first. Exponential in the worst case, without any limit.
  VANTOREL_BASE_UTILS_PUBLIC static std::vector<int> solveByPropagate(const Candidates& candidates);
  // The same search within the limits of `options`. When it finishes, ids are those of the
  // call above and proven_minimal is true; when a limit stops it, ids are the smallest cover
  // found (the greedy cover at worst, none if the time limit passed before the greedy cover
  // was complete), which may still be proven minimal by the bound.
  VANTOREL_BASE_UTILS_PUBLIC static SetCoverResult solveByPropagate(const Candidates& candidates,
                                                                    const SetCoverOptions& options);

  // A cover with the fewest candidates from a 0/1 program solved by GLPK (see solveILP).
  // Empty when GLPK fails.
  VANTOREL_BASE_UTILS_PUBLIC static std::vector<int> solveByILP(const Candidates& candidates);
  // The same program within the limits of `options`, with the greedy cover offered to GLPK
  // as its first incumbent; the lower bound comes from the LP relaxation and GLPK's search
  // tree. ids are GLPK's best cover, or the greedy cover when GLPK found none or a larger
  // one by the limit or failed (a failure, not a limit, writes the line of solveILP); none if
  // the time limit passed before the greedy cover was complete.
  VANTOREL_BASE_UTILS_PUBLIC static SetCoverResult solveByILP(const Candidates& candidates,
                                                              const SetCoverOptions& options);

  // Selects candidate `cand` (not selected yet) and records what it newly covered.
  VANTOREL_BASE_UTILS_PUBLIC static UndoRec doSelect(PropCtx& ctx, int cand);
  // Takes back the selection of `rec`; undo in reverse order of selection.
  VANTOREL_BASE_UTILS_PUBLIC static void undoSelect(PropCtx& ctx, const UndoRec& rec);
  // Selects, until none is left, the only unselected candidate of an uncovered element
  // (scanning `order`). An uncovered element without unselected candidates sets
  // `infeasible` and ends the scan. Returns the selections in the order made.
  VANTOREL_BASE_UTILS_PUBLIC static std::vector<UndoRec> propagateDeg1(PropCtx& ctx,
                                                                       bool& infeasible);
  VANTOREL_BASE_UTILS_PUBLIC static void undoPropagate(PropCtx& ctx,
                                                       const std::vector<UndoRec>& recs);
  // Depth-first search below the current state for a cover with fewer than `best_size`
  // candidates; improves `best_size` and `best_sol` (candidate indices in selection order)
  // in place and leaves `ctx` as it found it.
  VANTOREL_BASE_UTILS_PUBLIC static void bbSearch(PropCtx& ctx, int& best_size,
                                                  std::vector<int>& best_sol);
};

extern template class SetCoverSolver<int>;
extern template class SetCoverSolver<std::string>;
extern template class SetCoverSolver<unsigned long>;

// Solves the unit-cost covering program: choose as few of `num_cols` columns as possible
// so that each of `num_rows` rows is listed by a chosen column; col_rows[j] lists the rows
// of column j (0-based, no repeats; only the first num_cols lists are read). Returns the
// chosen column indices, ascending. Zero columns or rows give an empty result silently.
//
// Failure (GLPK cannot solve the program, an input that breaks the rules above, or an
// error inside GLPK) writes one line to std::cerr,
//   "[SetCoverSolver] GLPK ILP failed (ret=R, status=S), falling back to empty result",
// and returns an empty result. Broken input reports ret=18 (GLP_EDATA), status=1
// (GLP_UNDEF) without calling GLPK; an error inside GLPK reports ret=5 (GLP_EFAIL),
// status=1. Never aborts the process.
//
// GLPK keeps one environment per thread; concurrent calls on different threads are safe.
// A call leaves the calling thread's environment as it found it, except that it resets the
// GLPK error hook, and that after an error inside GLPK it frees the thread's environment
// (GLPK's own recovery), which invalidates GLPK objects the caller holds on that thread.
VANTOREL_BASE_UTILS_PUBLIC std::vector<int> solveILP(int num_cols, int num_rows,
                                                     const std::vector<std::vector<int>>& col_rows);

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__SET_COVER_HPP_
