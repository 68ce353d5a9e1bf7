// SPDX-License-Identifier: Apache-2.0
// Small fuzzed set cover instances through every method and all three element types, and
// small fuzzed covering programs straight into solveILP. Instances stay small enough
// (at most 12 candidates over 16 elements) for an exhaustive search to give the true
// minimum: every result must cover the universe, the exact methods must reach that minimum,
// and greedy may not depend on the element type. The exact methods with a fuzzed node
// limit must return a cover no smaller than their bound and no larger than greedy's, with
// the bound at most the minimum, reach the minimum when they claim a proof, and say exactly
// when their cover is greedy's.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace vbu = vantorel_base_utils;

namespace {

constexpr int kMaxCandidates = 12;
constexpr int kElements = 16;
constexpr int kMaxId = 40;

using Masks = std::map<int, std::uint32_t>;  // candidate id -> covered elements as bits

std::uint32_t universeOf(const Masks& masks) {
  std::uint32_t universe = 0;
  for (const auto& [id, mask] : masks) {
    universe |= mask;
  }
  return universe;
}

// The fewest masks whose union is `universe`, by trying every subset.
int minimumCoverSize(const std::vector<std::uint32_t>& masks, std::uint32_t universe) {
  const std::size_t n = masks.size();
  int best = static_cast<int>(n);
  for (std::uint32_t subset = 0; subset < (1U << n); ++subset) {
    std::uint32_t covered = 0;
    for (std::size_t i = 0; i < n; ++i) {
      covered |= (subset >> i & 1U) ? masks[i] : 0U;
    }
    const int size = __builtin_popcount(subset);
    if (covered == universe && size < best) {
      best = size;
    }
  }
  return universe == 0 ? 0 : best;
}

int minimumCoverSize(const Masks& masks) {
  std::vector<std::uint32_t> list;
  for (const auto& [id, mask] : masks) {
    list.push_back(mask);
  }
  return minimumCoverSize(list, universeOf(masks));
}

// Ascending ids of existing candidates whose union is the universe.
void checkCover(const Masks& masks, const std::vector<int>& ids) {
  std::uint32_t covered = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    VANTOREL_FUZZ_CHECK(i == 0 || ids[i - 1] < ids[i]);
    const auto it = masks.find(ids[i]);
    VANTOREL_FUZZ_CHECK(it != masks.end());
    covered |= it->second;
  }
  VANTOREL_FUZZ_CHECK(covered == universeOf(masks));
}

// The element names of one type; `name` must be one-to-one.
template <typename T, typename Name>
std::map<int, std::set<T>> instanceOf(const Masks& masks, Name name) {
  std::map<int, std::set<T>> candidates;
  for (const auto& [id, mask] : masks) {
    std::set<T>& elements = candidates[id];
    for (int e = 0; e < kElements; ++e) {
      if (mask >> e & 1U) {
        elements.insert(name(e));
      }
    }
  }
  return candidates;
}

struct Results {
  std::vector<int> greedy;
  std::vector<int> nearby;
};

void checkLimited(const Masks& masks, const vbu::SetCoverResult& result, int minimum,
                  const std::vector<int>& greedy) {
  checkCover(masks, result.ids);
  const auto size = static_cast<int>(result.ids.size());
  VANTOREL_FUZZ_CHECK(result.lower_bound <= minimum && minimum <= size);
  VANTOREL_FUZZ_CHECK(!result.proven_minimal || size == minimum);
  VANTOREL_FUZZ_CHECK(result.ids.size() <= greedy.size());
  VANTOREL_FUZZ_CHECK(result.greedy_cover == (!greedy.empty() && result.ids == greedy));
}

template <typename T>
Results checkMethods(const Masks& masks, const std::map<int, std::set<T>>& candidates, int method,
                     long long node_limit) {
  using Solver = vbu::SetCoverSolver<T>;
  const int minimum = minimumCoverSize(masks);
  const Results results{Solver::solveByGreedy(candidates, false),
                        Solver::solveByGreedy(candidates, true)};
  const std::vector<int> propagate = Solver::solveByPropagate(candidates);
  const std::vector<int> ilp = Solver::solveByILP(candidates);
  for (const auto* ids : {&results.greedy, &results.nearby, &propagate, &ilp}) {
    checkCover(masks, *ids);
  }
  VANTOREL_FUZZ_CHECK(static_cast<int>(propagate.size()) == minimum);
  VANTOREL_FUZZ_CHECK(static_cast<int>(ilp.size()) == minimum);
  vbu::SetCoverOptions limits;
  limits.node_limit = node_limit;
  checkLimited(masks, Solver::solveByPropagate(candidates, limits), minimum, results.greedy);
  checkLimited(masks, Solver::solveByILP(candidates, limits), minimum, results.greedy);
  const auto chosen = static_cast<vbu::SolveMethod>(method);
  const std::vector<int>& expected = chosen == vbu::SolveMethod::ILP         ? ilp
                                     : chosen == vbu::SolveMethod::Propagate ? propagate
                                                                             : results.nearby;
  VANTOREL_FUZZ_CHECK(Solver::solve(candidates, chosen, true) == expected);
  return results;
}

void checkSetCover(FuzzedDataProvider& in) {
  Masks masks;
  const int count = in.ConsumeIntegralInRange(0, kMaxCandidates);
  for (int i = 0; i < count; ++i) {
    masks[in.ConsumeIntegralInRange(0, kMaxId)] |= in.ConsumeIntegral<std::uint16_t>();
  }
  const int method = in.ConsumeIntegralInRange(-1, 3);
  const long long node_limit = in.ConsumeIntegralInRange(0, 8);
  const Results ints =
      checkMethods(masks, instanceOf<int>(masks, [](int e) { return e; }), method, node_limit);
  // Names that sort in another order than the numbers, so the exact search runs differently.
  const Results strings = checkMethods(
      masks, instanceOf<std::string>(masks, [](int e) { return std::to_string((e * 7) % 16); }),
      method, node_limit);
  const Results longs = checkMethods(
      masks,
      instanceOf<unsigned long>(masks, [](int e) { return ~0UL - static_cast<unsigned long>(e); }),
      method, node_limit);
  VANTOREL_FUZZ_CHECK(ints.greedy == strings.greedy && ints.greedy == longs.greedy);
  VANTOREL_FUZZ_CHECK(ints.nearby == strings.nearby && ints.nearby == longs.nearby);
}

// Column lists as given, valid or not. Broken programs must give an empty result.
void checkProgram(FuzzedDataProvider& in) {
  const int num_cols = in.ConsumeIntegralInRange(-1, kMaxCandidates);
  const int num_rows = in.ConsumeIntegralInRange(-1, kElements);
  std::vector<std::vector<int>> col_rows(in.ConsumeIntegralInRange<std::size_t>(0, kMaxCandidates));
  bool valid = num_cols >= 0 && num_rows >= 0 && static_cast<int>(col_rows.size()) >= num_cols;
  std::vector<std::uint32_t> masks;
  for (std::size_t j = 0; j < col_rows.size(); ++j) {
    std::uint32_t mask = 0;
    for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; --k) {
      const int row = in.ConsumeIntegralInRange(-1, kElements);
      col_rows[j].push_back(row);
      const bool counts = static_cast<int>(j) < num_cols;
      valid = valid && (!counts || (row >= 0 && row < num_rows && !(mask >> row & 1U)));
      mask |= (row >= 0 && row < kElements) ? 1U << row : 0U;
    }
    if (static_cast<int>(j) < num_cols) {
      masks.push_back(mask);
    }
  }
  const std::vector<int> chosen = vbu::solveILP(num_cols, num_rows, col_rows);
  const std::uint32_t all_rows = num_rows > 0 ? (1U << num_rows) - 1U : 0U;
  std::uint32_t reachable = 0;
  for (const std::uint32_t mask : masks) {
    reachable |= mask;
  }
  if (!valid || num_cols == 0 || num_rows == 0 || reachable != all_rows) {
    VANTOREL_FUZZ_CHECK(chosen.empty());
    return;
  }
  std::uint32_t covered = 0;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    VANTOREL_FUZZ_CHECK(chosen[i] >= 0 && chosen[i] < num_cols);
    VANTOREL_FUZZ_CHECK(i == 0 || chosen[i - 1] < chosen[i]);
    covered |= masks[static_cast<std::size_t>(chosen[i])];
  }
  VANTOREL_FUZZ_CHECK(covered == all_rows);
  VANTOREL_FUZZ_CHECK(static_cast<int>(chosen.size()) == minimumCoverSize(masks, all_rows));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The failure line of every refused program would drown the fuzzer's own output.
  static const bool silenced = [] {
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)silenced;
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    checkProgram(in);
  } else {
    checkSetCover(in);
  }
  return 0;
}
