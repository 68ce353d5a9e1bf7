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

using detail::Deadline;
using detail::IlpLimits;

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

// What GLPK's search tree showed, and the limits the tree callback applies; read and written
// by the callback.
struct TreeWatch {
  long long node_limit = 0;  // 0: none
  const Deadline* deadline = nullptr;
  const double* start = nullptr;  // 1-based column values of a cover to offer, or null
  long long nodes = 0;
  double best_bound = 0.0;  // the smallest bound among the open nodes
  bool has_bound = false;
  bool limit_reached = false;
};

struct MipAnswer {
  int ret = 0;
  int status = GLP_UNDEF;
  std::vector<double> column_values;
  double relaxation = 0.0;  // the LP relaxation's optimum, when relaxation_solved
  bool relaxation_solved = false;
  bool stopped_before_search = false;  // the deadline passed before the branch-and-cut
  TreeWatch watch;
};

// The limits of a limited run and the scratch arrays it loads columns through, made before
// GLPK is entered so that no object with a destructor lives in the frame GLPK may jump to.
struct LimitedRun {
  const IlpLimits* limits = nullptr;
  std::vector<int> rows;      // 1-based row indices of one column
  std::vector<double> ones;   // 1-based coefficients, all 1
  std::vector<double> start;  // 1-based column values of limits->start, empty when none
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
  // Offered once, at the first node whose relaxation is fractional: GLPK then prunes with it
  // and never ends with a larger cover. It refuses a cover no better than its own.
  if (watch.start != nullptr && glp_ios_reason(tree) == GLP_IHEUR) {
    glp_ios_heur_sol(tree, watch.start);
    watch.start = nullptr;
  }
  if ((watch.node_limit > 0 && total >= watch.node_limit) ||
      (watch.deadline != nullptr && watch.deadline->passed())) {
    watch.limit_reached = true;
    glp_ios_terminate(tree);
  }
}

// Milliseconds left before the deadline after `reserve`, at most INT_MAX - 1 and possibly
// zero or less; INT_MAX (GLPK's "none") without a deadline.
long long millisecondsLeft(const Deadline& deadline, Deadline::Clock::duration reserve) {
  if (!deadline.limited()) {
    return INT_MAX;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.at() - reserve -
                                                                          Deadline::Clock::now());
  return std::min<long long>(left.count(), INT_MAX - 1);
}

void jumpOutOfGlpk(void* on_error) {
  std::longjmp(*static_cast<std::jmp_buf*>(on_error), 1);
}

glp_prob* createProgram(glp_smcp& simplex, glp_iocp& integer) {
  glp_prob* prob = glp_create_prob();
  glp_set_obj_dir(prob, GLP_MIN);
  glp_init_smcp(&simplex);
  simplex.msg_lev = GLP_MSG_OFF;
  glp_init_iocp(&integer);
  integer.msg_lev = GLP_MSG_OFF;
  return prob;
}

// The 0/1 columns of cost 1 and the rows "at least 1". False when `deadline` passed first.
bool addColumnsAndRows(glp_prob* prob, int num_cols, int num_rows, const Deadline& deadline) {
  glp_add_cols(prob, num_cols);
  for (int j = 1; j <= num_cols; ++j) {
    glp_set_col_kind(prob, j, GLP_BV);
    glp_set_obj_coef(prob, j, 1.0);
    if (deadline.passedAfter(4)) {
      return false;
    }
  }
  glp_add_rows(prob, num_rows);
  for (int i = 1; i <= num_rows; ++i) {
    glp_set_row_bnds(prob, i, GLP_LO, 1.0, 0.0);
    if (deadline.passedAfter(4)) {
      return false;
    }
  }
  return true;
}

void readColumnValues(glp_prob* prob, MipAnswer& answer) {
  for (std::size_t j = 1; j <= answer.column_values.size(); ++j) {
    answer.column_values[j - 1] = glp_mip_col_val(prob, static_cast<int>(j));
  }
}

bool hasSolution(const MipAnswer& answer) {
  return answer.status == GLP_OPT || answer.status == GLP_FEAS;
}

// Builds and solves the program. GLPK reports internal errors by calling the error hook and
// then aborting; the hook jumps back here instead, and, as GLPK prescribes after such an
// error, the thread's GLPK environment is freed. Only trivially destructible objects live
// in this frame between setjmp and the jump, so the jump skips no destructor. The hook
// lives in GLPK's environment, which GLPK keeps per thread.
bool runGlpk(int num_cols, int num_rows, const Triplets& t, MipAnswer& answer) {
  std::jmp_buf on_error;
  if (setjmp(on_error) != 0) {
    glp_free_env();
    return false;
  }
  glp_error_hook(jumpOutOfGlpk, &on_error);
  glp_smcp simplex;
  glp_iocp integer;
  glp_prob* prob = createProgram(simplex, integer);
  addColumnsAndRows(prob, num_cols, num_rows, Deadline());
  glp_load_matrix(prob, t.count(), t.rows.data(), t.cols.data(), t.values.data());
  glp_simplex(prob, &simplex);
  answer.ret = glp_intopt(prob, &integer);
  answer.status = glp_mip_status(prob);
  if (answer.ret == 0 && hasSolution(answer)) {
    readColumnValues(prob, answer);
  }
  glp_delete_prob(prob);
  glp_error_hook(nullptr, nullptr);
  return true;
}

// Loads the matrix one column at a time, so that the deadline is asked between columns: one
// glp_load_matrix call of millions of entries cannot be stopped. False when it passed.
bool loadColumns(glp_prob* prob, const std::vector<std::vector<int>>& col_rows, int num_cols,
                 LimitedRun& run) {
  for (int j = 0; j < num_cols; ++j) {
    const std::vector<int>& rows = col_rows[static_cast<std::size_t>(j)];
    for (std::size_t k = 0; k < rows.size(); ++k) {
      run.rows[k + 1] = rows[k] + 1;
    }
    glp_set_mat_col(prob, j + 1, static_cast<int>(rows.size()), run.rows.data(), run.ones.data());
    if (run.limits->deadline.passedAfter(4 * rows.size() + 4)) {
      return false;
    }
  }
  return true;
}

// The simplex, then the branch-and-cut with the time left, the tree callback and the
// starting cover; the relaxation's optimum is kept. GLPK's time limits count only its
// iterations: before them the simplex copies and factorises the program, which takes about
// as long as loading it took (`load`, 0.7 to 1.1 times over 10^5 to 10^6 rows), and cannot be
// stopped. So the simplex gets the time left after that, or is not started.
void solveWithin(glp_prob* prob, glp_smcp& simplex, glp_iocp& integer, LimitedRun& run,
                 Deadline::Clock::duration load, MipAnswer& answer) {
  const Deadline& deadline = run.limits->deadline;
  const long long simplex_ms = millisecondsLeft(deadline, load + load / 4);
  if (simplex_ms < 1) {
    answer.stopped_before_search = true;
    return;
  }
  simplex.tm_lim = static_cast<int>(simplex_ms);
  glp_simplex(prob, &simplex);
  answer.relaxation_solved = glp_get_status(prob) == GLP_OPT;
  answer.relaxation = glp_get_obj_val(prob);
  const long long integer_ms = millisecondsLeft(deadline, Deadline::Clock::duration::zero());
  if (integer_ms < 1) {
    answer.stopped_before_search = true;
    return;
  }
  integer.tm_lim = static_cast<int>(integer_ms);
  answer.watch.node_limit = run.limits->node_limit;
  answer.watch.deadline = &deadline;
  answer.watch.start = run.start.empty() ? nullptr : run.start.data();
  integer.cb_func = watchTree;
  integer.cb_info = &answer.watch;
  answer.ret = glp_intopt(prob, &integer);
  answer.status = glp_mip_status(prob);
  // A run that a limit stopped still hands over the best cover it found.
  if (hasSolution(answer)) {
    readColumnValues(prob, answer);
  }
}

// The limited run of the program; set-up steps ask the deadline as they go. Frame rules as
// in runGlpk.
bool runLimitedGlpk(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                    LimitedRun& run, MipAnswer& answer) {
  std::jmp_buf on_error;
  if (setjmp(on_error) != 0) {
    glp_free_env();
    return false;
  }
  glp_error_hook(jumpOutOfGlpk, &on_error);
  const Deadline::Clock::time_point start = Deadline::Clock::now();
  glp_smcp simplex;
  glp_iocp integer;
  glp_prob* prob = createProgram(simplex, integer);
  if (addColumnsAndRows(prob, num_cols, num_rows, run.limits->deadline) &&
      loadColumns(prob, col_rows, num_cols, run)) {
    solveWithin(prob, simplex, integer, run, Deadline::Clock::now() - start, answer);
  } else {
    answer.stopped_before_search = true;
  }
  glp_delete_prob(prob);
  glp_error_hook(nullptr, nullptr);
  return true;
}

LimitedRun limitedRun(int num_cols, const std::vector<std::vector<int>>& col_rows,
                      const IlpLimits& limits) {
  LimitedRun run;
  run.limits = &limits;
  std::size_t longest = 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(num_cols); ++j) {
    longest = std::max(longest, col_rows[j].size());
  }
  run.rows.assign(longest + 1, 0);
  run.ones.assign(longest + 1, 1.0);
  if (!limits.start.empty()) {
    run.start.assign(static_cast<std::size_t>(num_cols) + 1, 0.0);
    for (const int j : limits.start) {
      run.start[static_cast<std::size_t>(j) + 1] = 1.0;
    }
  }
  return run;
}

// Checks the program and runs GLPK on it (the plain program when `limits` is null). False,
// with the failure line written, when the program is broken or GLPK met an error.
bool solveProgram(int num_cols, int num_rows, const std::vector<std::vector<int>>& col_rows,
                  const IlpLimits* limits, MipAnswer& answer) {
  if (!columnsAreValid(num_cols, num_rows, col_rows)) {
    reportFailure(kBrokenInputRet, GLP_UNDEF);
    return false;
  }
  answer.column_values.assign(static_cast<std::size_t>(num_cols), 0.0);

  // A thread that had no GLPK environment before the call gets none after it: GLPK does
  // not free it when the thread ends.
  const int env_state = glp_init_env();  // 0: created now, 1: already there
  if (env_state != 0 && env_state != 1) {
    reportFailure(kGlpkErrorRet, GLP_UNDEF);
    return false;
  }
  bool ran = false;
  if (limits == nullptr) {
    ran = runGlpk(num_cols, num_rows, tripletsOf(num_cols, col_rows), answer);
  } else {
    LimitedRun run = limitedRun(num_cols, col_rows, *limits);
    ran = runLimitedGlpk(num_cols, num_rows, col_rows, run, answer);
  }
  if (!ran) {
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

// Whether a limit, not a failure, ended the run: the deadline before or during the search,
// GLPK's own time limit, or the tree callback. A simplex that the time limit stopped leaves
// no relaxation to branch from, which glp_intopt reports as an error of its own.
bool stoppedByLimit(const MipAnswer& answer, const IlpLimits& limits) {
  const bool relaxation_timed_out = !answer.relaxation_solved && limits.deadline.limited();
  return answer.stopped_before_search || answer.watch.limit_reached || answer.ret == GLP_ETMLIM ||
         answer.ret == GLP_ESTOP ||
         (relaxation_timed_out && (answer.ret == GLP_EROOT || answer.ret == GLP_EFAIL));
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
                          const IlpLimits& limits) {
  IlpOutcome outcome;
  if (!worthSolving(num_cols, num_rows)) {
    outcome.optimal = num_cols >= 0 && num_rows >= 0;
    return outcome;
  }
  MipAnswer answer;
  if (!solveProgram(num_cols, num_rows, col_rows, &limits, answer)) {
    return outcome;
  }
  outcome.nodes = answer.watch.nodes;
  outcome.relaxation = answer.relaxation_solved ? answer.relaxation : -1.0;
  outcome.stopped = stoppedByLimit(answer, limits);
  if (answer.ret != 0 && !outcome.stopped) {
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
    outcome.optimal = (answer.ret == 0 && answer.status == GLP_OPT && !outcome.stopped) ||
                      outcome.lower_bound >= size;
    outcome.lower_bound = outcome.optimal ? size : std::min(outcome.lower_bound, size);
  } else if (!outcome.stopped) {
    reportFailure(answer.ret, answer.status);  // GLPK finished and found no cover
  }
  return outcome;
}

}  // namespace detail

}  // namespace vantorel_base_utils
