// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <glpk.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "vantorel_base_utils/set_cover.hpp"

namespace vbu = vantorel_base_utils;
using Ids = std::vector<int>;
using Columns = std::vector<std::vector<int>>;

namespace {

const std::string kBrokenInputLine =
    "[SetCoverSolver] GLPK ILP failed (ret=18, status=1), falling back to empty result\n";
const std::string kGlpkErrorLine =
    "[SetCoverSolver] GLPK ILP failed (ret=5, status=1), falling back to empty result\n";

struct Outcome {
  Ids result;
  std::string error_output;
};

Outcome solveCapturingStderr(int num_cols, int num_rows, const Columns& col_rows) {
  testing::internal::CaptureStderr();
  Outcome outcome;
  outcome.result = vbu::solveILP(num_cols, num_rows, col_rows);
  outcome.error_output = testing::internal::GetCapturedStderr();
  return outcome;
}

// More rows than GLPK accepts: GLPK raises an internal error in glp_add_rows.
constexpr int kTooManyRows = 200000000;

}  // namespace

TEST(SolveIlp, SolvesSmallProgramsSilently) {
  EXPECT_EQ(solveCapturingStderr(0, 5, {}).error_output, "");
  EXPECT_TRUE(solveCapturingStderr(0, 5, {}).result.empty());
  const Outcome no_rows = solveCapturingStderr(3, 0, {{}, {}, {}});
  EXPECT_TRUE(no_rows.result.empty());
  EXPECT_EQ(no_rows.error_output, "");

  const Outcome triangle = solveCapturingStderr(3, 3, {{0, 1}, {1, 2}, {0, 2}});
  EXPECT_EQ(triangle.result.size(), 2u);
  EXPECT_EQ(triangle.error_output, "");

  const Ids one_of_two = vbu::solveILP(2, 1, {{0}, {0}});
  ASSERT_EQ(one_of_two.size(), 1u);
  EXPECT_TRUE(one_of_two[0] == 0 || one_of_two[0] == 1);

  // Lists beyond num_cols are not read, however broken.
  EXPECT_EQ(vbu::solveILP(1, 2, {{1, 0}, {7, 7, -3}}), (Ids{0}));
}

TEST(SolveIlp, UncoverableRowIsAGlpkFailure) {
  const Outcome outcome = solveCapturingStderr(2, 2, {{0}, {}});
  EXPECT_TRUE(outcome.result.empty());
  EXPECT_EQ(outcome.error_output.rfind("[SetCoverSolver] GLPK ILP failed (ret=", 0), 0u);
  EXPECT_EQ(std::count(outcome.error_output.begin(), outcome.error_output.end(), '\n'), 1);
  EXPECT_NE(outcome.error_output.find("), falling back to empty result\n"), std::string::npos);
}

TEST(SolveIlp, BrokenInputIsReportedInsteadOfReachingGlpk) {
  const std::vector<std::pair<std::string, Outcome>> cases = {
      {"negative columns", solveCapturingStderr(-1, 2, {})},
      {"negative rows", solveCapturingStderr(1, -2, {{0}})},
      {"row above range", solveCapturingStderr(2, 2, {{0}, {2}})},
      {"negative row", solveCapturingStderr(2, 2, {{-1}, {1}})},
      {"row listed twice", solveCapturingStderr(2, 3, {{0, 1}, {2, 1, 2}})},
      {"too few lists", solveCapturingStderr(3, 2, {{0}, {1}})},
  };
  for (const auto& [name, outcome] : cases) {
    EXPECT_TRUE(outcome.result.empty()) << name;
    EXPECT_EQ(outcome.error_output, kBrokenInputLine) << name;
  }
}

TEST(SolveIlp, ErrorInsideGlpkIsReportedAndTheThreadRecovers) {
  const Outcome outcome = solveCapturingStderr(1, kTooManyRows, {{0}});
  EXPECT_TRUE(outcome.result.empty());
  EXPECT_EQ(outcome.error_output, kGlpkErrorLine);
  EXPECT_EQ(vbu::solveILP(2, 2, {{0}, {0, 1}}), (Ids{1}));
}

TEST(SolveIlp, LeavesTheThreadsGlpkEnvironmentAsItFoundIt) {
  // No environment before the call: none after it (GLPK would leak it at thread exit).
  std::thread fresh([] {
    EXPECT_EQ(vbu::solveILP(2, 2, {{0}, {0, 1}}), (Ids{1}));
    EXPECT_EQ(glp_init_env(), 0);
    glp_free_env();
  });
  fresh.join();

  // An environment in use by the caller survives, and so do its problems.
  std::thread user([] {
    glp_prob* own = glp_create_prob();
    glp_add_rows(own, 3);
    EXPECT_EQ(vbu::solveILP(2, 2, {{0}, {0, 1}}), (Ids{1}));
    EXPECT_EQ(glp_get_num_rows(own), 3);
    glp_delete_prob(own);
    glp_free_env();
  });
  user.join();
}

TEST(SolveIlp, ConcurrentCallsOnSeveralThreads) {
  // Each thread solves programs with a known optimum, an uncoverable program and one that
  // makes GLPK fail internally.
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  testing::internal::CaptureStderr();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int round = 0; round < kRounds; ++round) {
        // A ring of k rows with k columns covering two neighbours: optimum ceil(k / 2).
        const int k = 3 + (t + round) % 9;
        Columns ring(static_cast<std::size_t>(k));
        for (int j = 0; j < k; ++j) {
          ring[static_cast<std::size_t>(j)] = {j, (j + 1) % k};
          std::sort(ring[static_cast<std::size_t>(j)].begin(),
                    ring[static_cast<std::size_t>(j)].end());
        }
        wrong[static_cast<std::size_t>(t)] +=
            vbu::solveILP(k, k, ring).size() == static_cast<std::size_t>((k + 1) / 2) ? 0 : 1;
        wrong[static_cast<std::size_t>(t)] += vbu::solveILP(2, 2, {{0}, {}}).empty() ? 0 : 1;
        if (round % 5 == 0) {
          wrong[static_cast<std::size_t>(t)] +=
              vbu::solveILP(1, kTooManyRows, {{0}}).empty() ? 0 : 1;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const std::string error_output = testing::internal::GetCapturedStderr();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  const auto lines = std::count(error_output.begin(), error_output.end(), '\n');
  EXPECT_EQ(lines, kThreads * (kRounds + kRounds / 5));
  std::size_t internal_errors = 0;
  for (std::size_t at = error_output.find(kGlpkErrorLine); at != std::string::npos;
       at = error_output.find(kGlpkErrorLine, at + 1)) {
    ++internal_errors;
  }
  EXPECT_EQ(internal_errors, static_cast<std::size_t>(kThreads * kRounds / 5));
}

TEST(SetCoverIlp, SolvesInstancesThroughTheProgram) {
  using Solver = vbu::SetCoverSolver<unsigned long>;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Solver::solveByILP({{1, {1, 2, 3, 4}}, {2, {1, 2, 5}}, {3, {3, 4, 6}}}), (Ids{2, 3}));
  EXPECT_EQ(Solver::solveByILP(
                {{1, {5, 7, 8}}, {2, {4, 7, 8}}, {3, {1, 5, 6}}, {4, {1, 6, 8}}, {5, {1, 4}}}),
            (Ids{2, 3}));
  // An empty candidate gets no column, so it can never be chosen; ids come back ascending.
  EXPECT_EQ(Solver::solveByILP({{9, {}}, {7, {1, 2}}, {3, {3}}, {0, {}}}), (Ids{3, 7}));
  EXPECT_TRUE(Solver::solveByILP({}).empty());
  EXPECT_TRUE(Solver::solveByILP({{1, {}}, {2, {}}}).empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
