// solveILP: the unit-cost covering program handed to GLPK, with GLPK's errors caught.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include <glpk.h>

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

struct MipAnswer {
  int ret = 0;
  int status = GLP_UNDEF;
  std::vector<double> column_values;
};

void jumpOutOfGlpk(void* on_error) {
  std::longjmp(*static_cast<std::jmp_buf*>(on_error), 1);
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
  glp_simplex(prob, &simplex);
  answer.ret = glp_intopt(prob, &integer);
  answer.status = glp_mip_status(prob);
  if (answer.ret == 0 && (answer.status == GLP_OPT || answer.status == GLP_FEAS)) {
    for (int j = 1; j <= num_cols; ++j) {
      answer.column_values[static_cast<std::size_t>(j - 1)] = glp_mip_col_val(prob, j);
    }
  }
  glp_delete_prob(prob);
  glp_error_hook(nullptr, nullptr);
  return true;
}

}  // namespace

std::vector<int> solveILP(int num_cols, int num_rows,
                          const std::vector<std::vector<int>>& col_rows) {
  if (num_cols < 0 || num_rows < 0) {
    reportFailure(kBrokenInputRet, GLP_UNDEF);
    return {};
  }
  if (num_cols == 0 || num_rows == 0) {
    return {};
  }
  if (!columnsAreValid(num_cols, num_rows, col_rows)) {
    reportFailure(kBrokenInputRet, GLP_UNDEF);
    return {};
  }
  const Triplets triplets = tripletsOf(num_cols, col_rows);
  MipAnswer answer;
  answer.column_values.assign(static_cast<std::size_t>(num_cols), 0.0);

  // A thread that had no GLPK environment before the call gets none after it: GLPK does
  // not free it when the thread ends.
  const int env_state = glp_init_env();  // 0: created now, 1: already there
  if (env_state != 0 && env_state != 1) {
    reportFailure(kGlpkErrorRet, GLP_UNDEF);
    return {};
  }
  if (!runGlpk(num_cols, num_rows, triplets, answer)) {
    reportFailure(kGlpkErrorRet, GLP_UNDEF);
    return {};
  }
  if (env_state == 0) {
    glp_free_env();
  }
  if (answer.ret != 0 || (answer.status != GLP_OPT && answer.status != GLP_FEAS)) {
    reportFailure(answer.ret, answer.status);
    return {};
  }
  std::vector<int> chosen;
  for (std::size_t j = 0; j < answer.column_values.size(); ++j) {
    if (answer.column_values[j] > 0.5) {
      chosen.push_back(static_cast<int>(j));
    }
  }
  return chosen;
}

}  // namespace vantorel_base_utils
