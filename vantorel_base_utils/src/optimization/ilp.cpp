// SPDX-License-Identifier: Apache-2.0
// solveILP: the unit-cost covering program handed to GLPK, with GLPK's errors caught; and
// the same program within time and node limits for solveByILP's limited overload.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include <glpk.h>

#include "optimization/ilp.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace vantorel_base_utils {

namespace {

// What a failure line reports when GLPK was not asked or did not get to answer.
constexpr int kBrokenInputRet = GLP_EDATA;
constexpr int kGlpkErrorRet = GLP_EFAIL;

void reportFailure(int ret, int status) {
  // One insertion, so that lines of concurrent calls do not interleave.
  std::cerr << "[SetCoverSolver] GLPK ILP failed (ret=" + std::to_string(ret) +
                   ", status=" + std::to_string(status) + "), falling back to empty result\n";
}

bool hasRepeat(const std::vector<int>& rows) {
  if (std::adjacent_find(rows.begin(), rows.end(), std::greater_equal<int>()) == rows.end()) {
    return false;  // strictly ascending, the usual case
  }
  std::vector<int> sorted(rows);
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

// GLPK aborts the process on input it does not accept, so nothing reaches it unchecked.
bool columnsAreValid(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows) {
  if (col_rows.size() < static_cast<std::size_t>(num_cols)) {
    return false;
  }
  std::size_t total = 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(num_cols); ++j) {
    const std::vector<int>& rows = col_rows[j];
    const bool in_range =
        std::all_of(rows.begin(), rows.end(), [num_rows](int r) { return r >= 0 && r < num_rows; });
    if (!in_range || hasRepeat(rows)) {
      return false;
    }
    total += rows.size();
  }
  // GLPK counts matrix entries in an int.
  return total < static_cast<std::size_t>(std::numeric_limits<int>::max());
}

// The constraint matrix as GLPK loads it: 1-based parallel arrays whose position 0 is
// unused, filled column by column.
struct Triplets {
  std::vector<int> rows{0};
  std::vector<int> cols{0};
  std::vector<double> values{0.0};

  int count() const { return static_cast<int>(rows.size()) - 1; }
};

Triplets tripletsOf(int num_cols, const std::vector<std::vector<int>>& col_rows) {
  Triplets t;
  for (int j = 0; j < num_cols; ++j) {
    for (const int r : col_rows[static_cast<std::size_t>(j)]) {
      t.rows.push_back(r + 1);
      t.cols.push_back(j + 1);
      t.values.push_back(1.0);
    }
  }
  return t;
}

// Limits of one run, and what GLPK's search tree showed; read by the tree callback.
struct TreeWatch {
  long long node_limit = 0;  // 0: none
  long long nodes = 0;
  double best_bound = 0.0;  // the smallest bound among the open nodes
  bool has_bound = false;
};

struct MipAnswer {
  int ret = 0;
  int status = GLP_UNDEF;
  std::vector<double> column_values;
  double relaxation = 0.0;  // the LP relaxation's optimum, when relaxation_solved
  bool relaxation_solved = false;
  TreeWatch watch;
};

// Limits of a run; time_limit_ms 0 means none.
struct RunLimits {
  int time_limit_ms = 0;
  long long node_limit = 0;
};

void watchTree(glp_tree* tree, void* info) {
  TreeWatch& watch = *static_cast<TreeWatch*>(info);
  int active = 0;
  int alive = 0;
  int total = 0;
  glp_ios_tree_size(tree, &active, &alive, &total);
  watch.nodes = total;
  const int best = glp_ios_best_node(tree);
  if (best != 0) {
    watch.best_bound = glp_ios_node_bound(tree, best);
    watch.has_bound = true;
  }
  if (watch.node_limit > 0 && total >= watch.node_limit) {
    glp_ios_terminate(tree);
  }
}

// Applies the limits to the control blocks; the time left after the simplex goes to the
// branch-and-cut.
void limitSimplex(const RunLimits* limits, glp_smcp& simplex) {
  if (limits != nullptr && limits->time_limit_ms > 0) {
    simplex.tm_lim = limits->time_limit_ms;
  }
}
void limitIntopt(const RunLimits* limits, int spent_ms, glp_iocp& integer, MipAnswer& answer) {
  if (limits->time_limit_ms > 0) {
    integer.tm_lim = std::max(1, limits->time_limit_ms - spent_ms);
  }
  answer.watch.node_limit = limits->node_limit;
  integer.cb_func = watchTree;
  integer.cb_info = &answer.watch;
}

void jumpOutOfGlpk(void* on_error) {
  std::longjmp(*static_cast<std::jmp_buf*>(on_error), 1);
}

// Builds and solves the program. GLPK reports internal errors by calling the error hook and
// then aborting; the hook jumps back here instead, and, as GLPK prescribes after such an
// error, the thread's GLPK environment is freed. Only trivially destructible objects live
// in this frame between setjmp and the jump, so the jump skips no destructor. The hook
// lives in GLPK's environment, which GLPK keeps per thread.
// With `limits`, the simplex and the branch-and-cut get GLPK's time limit and the tree
// callback, and the relaxation's optimum is kept.
bool runGlpk(int num_cols, int num_rows, const Triplets& t, MipAnswer& answer,
             const RunLimits* limits) {
  const auto start = std::chrono::steady_clock::now();
  std::jmp_buf on_error;
  if (setjmp(on_error) != 0) {
    glp_free_env();
    return false;
  }
  glp_error_hook(jumpOutOfGlpk, &on_error);
  glp_prob* prob = glp_create_prob();
  glp_set_obj_dir(prob, GLP_MIN);
  glp_smcp simplex;
  glp_init_smcp(&simplex);
  simplex.msg_lev = GLP_MSG_OFF;
  glp_iocp integer;
  glp_init_iocp(&integer);
  integer.msg_lev = GLP_MSG_OFF;
  glp_add_cols(prob, num_cols);
  for (int j = 1; j <= num_cols; ++j) {
    glp_set_col_kind(prob, j, GLP_BV);
    glp_set_obj_coef(prob, j, 1.0);
  }
  glp_add_rows(prob, num_rows);
  for (int i = 1; i <= num_rows; ++i) {
    glp_set_row_bnds(prob, i, GLP_LO, 1.0, 0.0);
  }
  glp_load_matrix(prob, t.count(), t.rows.data(), t.cols.data(), t.values.data());
  limitSimplex(limits, simplex);
  glp_simplex(prob, &simplex);
  if (limits != nullptr) {
    answer.relaxation_solved = glp_get_status(prob) == GLP_OPT;
    answer.relaxation = glp_get_obj_val(prob);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    limitIntopt(limits, static_cast<int>(spent.count()), integer, answer);
  }
  answer.ret = glp_intopt(prob, &integer);
  answer.status = glp_mip_status(prob);
  // A limited run that stopped early still hands over the best cover it found.
  const bool usable_answer = answer.ret == 0 || limits != nullptr;
  if (usable_answer && (answer.status == GLP_OPT || answer.status == GLP_FEAS)) {
    for (int j = 1; j <= num_cols; ++j) {
      answer.column_values[static_cast<std::size_t>(j - 1)] = glp_mip_col_val(prob, j);
    }
  }
  glp_delete_prob(prob);
  glp_error_hook(nullptr, nullptr);
  return true;
}

// Checks the program and runs GLPK on it (the plain program when `limits` is null). False,
// with the failure line written, when the program is broken or GLPK met an error.
bool solveProgram(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                  const RunLimits* limits, MipAnswer& answer) {
  if (!columnsAreValid(num_cols, num_rows, col_rows)) {
    reportFailure(kBrokenInputRet, GLP_UNDEF);
    return false;
  }
  const Triplets triplets = tripletsOf(num_cols, col_rows);
  answer.column_values.assign(static_cast<std::size_t>(num_cols), 0.0);

  // A thread that had no GLPK environment before the call gets none after it: GLPK does
  // not free it when the thread ends.
  const int env_state = glp_init_env();  // 0: created now, 1: already there
  if (env_state != 0 && env_state != 1) {
    reportFailure(kGlpkErrorRet, GLP_UNDEF);
    return false;
  }
  if (!runGlpk(num_cols, num_rows, triplets, answer, limits)) {
    reportFailure(kGlpkErrorRet, GLP_UNDEF);
    return false;
  }
  if (env_state == 0) {
    glp_free_env();
  }
  return true;
}

// Negative counts are refused loudly; zero columns or rows give an empty choice silently.
bool worthSolving(int num_cols, int num_rows) {
  if (num_cols < 0 || num_rows < 0) {
    reportFailure(kBrokenInputRet, GLP_UNDEF);
    return false;
  }
  return num_cols != 0 && num_rows != 0;
}

bool hasSolution(const MipAnswer& answer) {
  return answer.status == GLP_OPT || answer.status == GLP_FEAS;
}

std::vector<int> chosenColumns(const MipAnswer& answer) {
  std::vector<int> chosen;
  for (std::size_t j = 0; j < answer.column_values.size(); ++j) {
    if (answer.column_values[j] > 0.5) {
      chosen.push_back(static_cast<int>(j));
    }
  }
  return chosen;
}

// The bound rounded up to whole columns; GLPK reports -DBL_MAX for a node it has not bounded.
int roundUpBound(double bound) {
  if (!(bound > 0.0)) {
    return 0;
  }
  const double columns = std::ceil(bound - 1e-6);
  return columns < static_cast<double>(INT_MAX) ? static_cast<int>(columns) : INT_MAX;
}

}  // namespace

std::vector<int> solveILP(int num_cols, int num_rows,
                          const std::vector<std::vector<int>>& col_rows) {
  if (!worthSolving(num_cols, num_rows)) {
    return {};
  }
  MipAnswer answer;
  if (!solveProgram(num_cols, num_rows, col_rows, nullptr, answer)) {
    return {};
  }
  if (answer.ret != 0 || !hasSolution(answer)) {
    reportFailure(answer.ret, answer.status);
    return {};
  }
  return chosenColumns(answer);
}

namespace detail {

IlpOutcome solveILPWithin(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                          const SetCoverOptions& options) {
  IlpOutcome outcome;
  if (!worthSolving(num_cols, num_rows)) {
    outcome.optimal = num_cols >= 0 && num_rows >= 0;
    return outcome;
  }
  RunLimits limits;
  if (options.time_limit_seconds > 0.0) {
    const double ms = std::ceil(options.time_limit_seconds * 1000.0);
    limits.time_limit_ms = ms < static_cast<double>(INT_MAX) ? static_cast<int>(ms) : INT_MAX;
  }
  limits.node_limit = std::max(0LL, options.node_limit);
  MipAnswer answer;
  if (!solveProgram(num_cols, num_rows, col_rows, &limits, answer)) {
    return outcome;
  }
  outcome.nodes = answer.watch.nodes;
  outcome.relaxation = answer.relaxation_solved ? answer.relaxation : -1.0;
  // The simplex stopped by the time limit leaves no relaxation to branch from.
  const bool relaxation_timed_out = !answer.relaxation_solved && limits.time_limit_ms > 0;
  const bool stopped =
      answer.ret == GLP_ETMLIM || answer.ret == GLP_ESTOP ||
      (relaxation_timed_out && (answer.ret == GLP_EROOT || answer.ret == GLP_EFAIL));
  if (answer.ret != 0 && !stopped) {
    reportFailure(answer.ret, answer.status);
    return outcome;
  }
  if (answer.relaxation_solved) {
    outcome.lower_bound = roundUpBound(answer.relaxation);
  }
  if (answer.watch.has_bound) {
    outcome.lower_bound = std::max(outcome.lower_bound, roundUpBound(answer.watch.best_bound));
  }
  if (hasSolution(answer)) {
    outcome.chosen = chosenColumns(answer);
    const int size = static_cast<int>(outcome.chosen.size());
    outcome.optimal = (answer.ret == 0 && answer.status == GLP_OPT) || outcome.lower_bound >= size;
    outcome.lower_bound = outcome.optimal ? size : std::min(outcome.lower_bound, size);
  } else if (answer.ret == 0) {
    reportFailure(answer.ret, answer.status);  // GLPK finished and found no cover
  }
  return outcome;
}

}  // namespace detail

}  // namespace vantorel_base_utils
