// SPDX-License-Identifier: Apache-2.0
// Set cover methods against the literal implementations of the test oracle and against
// GLPK, on random unicost instances, on two structured unicost families built here (see
// test/optimization/set_cover_instances.hpp):
//   cyc.d  the edges of the d-dimensional hypercube covering its 4-cycles;
//   clr.n  the 4-point subsets of n points covering the splits they lie wholly on one side of;
// and on the unicost OR-Library files scpcyc06 and scpclr10 (the same constructions for d = 6
// and n = 10, numbered by their authors), read from VANTOREL_ORLIB_DIR or data/orlib.
//
// The greedy benchmarks (Google Benchmark) check that the fast greedy returns exactly the
// literal ids before timing. The exact methods are then timed in a table of their own
// (left out by --skip_exact or a --benchmark_filter that does not match "exact"): every
// attempt is bounded by --exact_time_limit seconds (default 20); the search's cover is
// checked id for id against the literal search where that finishes and against GLPK's cover
// size where both finish; finished methods are then timed in interleaved rounds (wall time,
// median and range).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "optimization/ilp.hpp"
#include "optimization/set_cover_instances.hpp"
#include "optimization/set_cover_internal.hpp"
#include "optimization/set_cover_oracle.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace {

using set_cover_instances::hypercubeCycles;
using set_cover_instances::monochromaticQuadruples;
using set_cover_instances::randomUnicost;
using Instance = set_cover_instances::Instance;
using Solver = vantorel_base_utils::SetCoverSolver<int>;
namespace detail = vantorel_base_utils::detail;

struct Named {
  std::string name;
  Instance instance;
};

const std::vector<Named>& randomInstances() {
  static const std::vector<Named> instances = {
      {"rand.30.100.10", randomUnicost(30, 100, 0.10, 6)},
      {"rand.50.200.05", randomUnicost(50, 200, 0.05, 1)},
      {"rand.60.150.05", randomUnicost(60, 150, 0.05, 7)},
      {"rand.100.300.03", randomUnicost(100, 300, 0.03, 8)},
      {"rand.200.500.02", randomUnicost(200, 500, 0.02, 2)},
      {"rand.200.500.05", randomUnicost(200, 500, 0.05, 3)},
      {"rand.1000.2000.02", randomUnicost(1000, 2000, 0.02, 4)},
      {"rand.1000.2000.05", randomUnicost(1000, 2000, 0.05, 5)},
  };
  return instances;
}

const std::vector<Named>& structuredInstances() {
  static const std::vector<Named> instances = {
      {"cyc.4", hypercubeCycles(4)},           {"cyc.5", hypercubeCycles(5)},
      {"cyc.6", hypercubeCycles(6)},           {"clr.7", monochromaticQuadruples(7)},
      {"clr.8", monochromaticQuadruples(8)},   {"clr.9", monochromaticQuadruples(9)},
      {"clr.10", monochromaticQuadruples(10)},
  };
  return instances;
}

// ----- Greedy -----

using Method = std::function<std::vector<int>(const Instance&)>;

void run(benchmark::State& state, const Instance& instance, const Method& method,
         const std::vector<int>& expected) {
  std::vector<int> ids = method(instance);
  if (ids != expected) {
    state.SkipWithError("ids differ from the literal implementation");
    return;
  }
  for (auto _ : state) {
    ids = method(instance);
    benchmark::DoNotOptimize(ids.data());
  }
  state.counters["cover"] = static_cast<double>(ids.size());
}

void registerGreedy(const Named& named) {
  auto literal = [](const Instance& i) { return set_cover_oracle::greedy(i, false); };
  auto fast = [](const Instance& i) { return Solver::solveByGreedy(i, false); };
  benchmark::RegisterBenchmark(("greedy_literal/" + named.name).c_str(),
                               [&named, literal](benchmark::State& state) {
                                 run(state, named.instance, literal, literal(named.instance));
                               })
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("greedy/" + named.name).c_str(), [&named, literal,
                                                                  fast](benchmark::State& state) {
    run(state, named.instance, fast, literal(named.instance));
  })->Unit(benchmark::kMillisecond);
}

// ----- Exact methods -----

// The unicost OR-Library format: rows, columns, the column costs, then for each row the
// number of columns covering it and those columns (1-based). Columns become candidates.
std::optional<Instance> readOrLibrary(const std::string& path) {
  std::ifstream in(path);
  long rows = 0;
  long columns = 0;
  if (!(in >> rows >> columns)) {
    return std::nullopt;
  }
  for (long j = 0; j < columns; ++j) {
    double cost = 0.0;
    in >> cost;
  }
  Instance instance;
  for (long row = 1; row <= rows && in; ++row) {
    long covering = 0;
    in >> covering;
    for (long k = 0; k < covering && in; ++k) {
      int column = 0;
      in >> column;
      instance[column].insert(static_cast<int>(row));
    }
  }
  return in ? std::optional<Instance>(instance) : std::nullopt;
}

std::string orLibraryDir() {
  if (const char* dir = std::getenv("VANTOREL_ORLIB_DIR")) {
    return dir;
  }
  const std::string here = __FILE__;  // <repository>/bench/bench_set_cover.cpp
  const std::string repository = here.substr(0, here.rfind("/bench/"));
  return repository + "/data/orlib";
}

struct ExactCase {
  Named named;
  bool literal_finishes;  // the literal search ends within seconds (measured once)
};

std::vector<ExactCase> exactCases() {
  std::vector<ExactCase> cases;
  const std::set<std::string> literal_finishes = {
      "rand.30.100.10", "rand.50.200.05", "rand.60.150.05", "rand.100.300.03", "cyc.4", "clr.7"};
  for (const auto* family : {&randomInstances(), &structuredInstances()}) {
    for (const Named& named : *family) {
      if (named.name != "cyc.6" && named.name != "clr.10") {  // as the OR-Library files
        cases.push_back({named, literal_finishes.count(named.name) != 0});
      }
    }
  }
  const std::string dir = orLibraryDir();
  for (const char* name : {"scpcyc06", "scpclr10"}) {
    if (auto instance = readOrLibrary(dir + "/" + name + ".txt")) {
      cases.push_back({{name, *instance}, false});
    } else {
      std::printf("%s: not found in %s (set VANTOREL_ORLIB_DIR); left out\n", name, dir.c_str());
    }
  }
  return cases;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename F>
double timed(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return secondsSince(start);
}

// Wall times of one method over the interleaved rounds.
struct Times {
  std::vector<double> seconds;

  void add(double s) { seconds.push_back(s); }
  double total() const {
    double sum = 0.0;
    for (const double s : seconds) {
      sum += s;
    }
    return sum;
  }
  std::string text() const {
    if (seconds.empty()) {
      return "-";
    }
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s [%s-%s]", ms(sorted[sorted.size() / 2]).c_str(),
                  ms(sorted.front()).c_str(), ms(sorted.back()).c_str());
    return buffer;
  }
  double median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
  static std::string ms(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, seconds < 0.01 ? "%.3f" : "%.1f", seconds * 1e3);
    return buffer;
  }
};

// The LP relaxation's optimum as GLPK finds it for solveByILP's program.
double lpBound(const Instance& instance) {
  std::set<int> universe;
  for (const auto& entry : instance) {
    universe.insert(entry.second.begin(), entry.second.end());
  }
  std::vector<std::vector<int>> col_rows;
  for (const auto& entry : instance) {
    std::vector<int> rows;
    for (const int e : entry.second) {
      rows.push_back(static_cast<int>(std::distance(universe.begin(), universe.find(e))));
    }
    if (!rows.empty()) {
      col_rows.push_back(rows);
    }
  }
  detail::IlpLimits no_search;
  no_search.node_limit = 1;
  return detail::solveILPWithin(static_cast<int>(col_rows.size()),
                                static_cast<int>(universe.size()), col_rows, no_search)
      .relaxation;
}

std::string resultText(const vantorel_base_utils::SetCoverResult& r) {
  if (r.proven_minimal) {
    return std::to_string(r.ids.size());
  }
  return r.ids.empty() ? "none, >= " + std::to_string(r.lower_bound)
                       : std::to_string(r.lower_bound) + ".." + std::to_string(r.ids.size());
}

std::string sizeText(const Instance& instance) {
  std::set<int> universe;
  std::size_t entries = 0;
  for (const auto& entry : instance) {
    universe.insert(entry.second.begin(), entry.second.end());
    entries += entry.second.size();
  }
  return std::to_string(instance.size()) + " / " + std::to_string(universe.size()) + " / " +
         std::to_string(entries);
}

// One row of the table: checks, then interleaved timing of what finished within the limit.
void exactRow(const ExactCase& c, double limit) {
  const Instance& instance = c.named.instance;
  vantorel_base_utils::SetCoverOptions options;
  options.time_limit_seconds = limit;
  detail::SearchLimits limits;
  limits.seek_incumbent = true;
  detail::SearchReport report;
  vantorel_base_utils::SetCoverResult search;
  limits.deadline = detail::Deadline::after(limit);
  search.ids = detail::solveByPropagateReported(instance, limits, report);
  search.proven_minimal = report.finished;
  search.lower_bound = report.finished ? static_cast<int>(search.ids.size()) : report.lower_bound;
  const vantorel_base_utils::SetCoverResult glpk = Solver::solveByILP(instance, options);
  long long literal_nodes = 0;
  std::string problem;
  if (c.literal_finishes) {
    const std::vector<int> literal =
        set_cover_oracle::propagate<Solver::PropCtx>(instance, &literal_nodes);
    problem = literal != search.ids ? "search ids differ from the literal search" : "";
  }
  if (search.proven_minimal && glpk.proven_minimal && search.ids.size() != glpk.ids.size()) {
    problem = "cover sizes differ from GLPK's";
  }
  const std::size_t greedy_size = Solver::solveByGreedy(instance, false).size();
  for (const vantorel_base_utils::SetCoverResult* r : {&std::as_const(search), &glpk}) {
    if (!r->ids.empty() && !set_cover_oracle::isSortedCover(instance, r->ids)) {
      problem = "not a cover";
    }
    if (r->ids.size() > greedy_size) {
      problem = "a cover larger than greedy's";
    }
  }
  // Interleaved rounds of the plain calls of the methods that finished: at least three,
  // then more while a method has taken less than a second in all.
  Times search_times;
  Times glpk_times;
  Times literal_times;
  const bool search_done = search.proven_minimal;
  const bool glpk_done = glpk.proven_minimal;
  for (int round = 0; round < 15 && problem.empty(); ++round) {
    const auto more = [round](bool done, const Times& times) {
      return done && (round < 3 || times.total() < 1.0);
    };
    const bool more_search = more(search_done, search_times);
    const bool more_glpk = more(glpk_done, glpk_times);
    if (!more_search && !more_glpk) {
      break;
    }
    if (more_search) {
      search_times.add(
          timed([&] { benchmark::DoNotOptimize(Solver::solveByPropagate(instance)); }));
    }
    if (more_glpk) {
      glpk_times.add(timed([&] { benchmark::DoNotOptimize(Solver::solveByILP(instance)); }));
    }
    if (c.literal_finishes && round < 3) {
      literal_times.add(timed([&] {
        benchmark::DoNotOptimize(set_cover_oracle::propagate<Solver::PropCtx>(instance));
      }));
    }
  }
  const std::string over = "> " + Times::ms(limit) + " ms";
  const std::string literal_text =
      c.literal_finishes ? literal_times.text() + ", " + std::to_string(literal_nodes) + " nodes"
                         : "not tried";
  const std::string ratio =
      search_done && glpk_done
          ? std::to_string(glpk_times.median() / search_times.median()).substr(0, 5) + "x"
          : "-";
  const std::string root =
      report.root_bound < 0 ? "-" : std::to_string(report.root_bound);  // none needed
  std::printf("| %s | %s | %s | %s, %lld nodes | %s | %s | %s / %.2f | %s | %s |%s\n",
              c.named.name.c_str(), sizeText(instance).c_str(), literal_text.c_str(),
              search_done ? search_times.text().c_str() : over.c_str(), report.nodes,
              glpk_done ? glpk_times.text().c_str() : over.c_str(), ratio.c_str(), root.c_str(),
              lpBound(instance), resultText(search).c_str(), resultText(glpk).c_str(),
              problem.empty() ? "" : (" ERROR: " + problem).c_str());
  std::fflush(stdout);
}

// Reads and removes --exact_time_limit=S and --skip_exact from the arguments. A
// --benchmark_filter that does not match "exact" skips the exact table too, so that a filter
// meant for other programs does not start it.
double exactTimeLimit(int& argc, char** argv, bool& skip) {
  double limit = 20.0;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--exact_time_limit=", 0) == 0) {
      limit = std::stod(arg.substr(19));
      continue;
    }
    if (arg == "--skip_exact") {
      skip = true;
      continue;
    }
    if (arg.rfind("--benchmark_filter=", 0) == 0) {
      skip = skip || !std::regex_search("exact", std::regex(arg.substr(19)));
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  return limit;
}

}  // namespace

int main(int argc, char** argv) {
  bool skip_exact = false;
  const double limit = exactTimeLimit(argc, argv, skip_exact);
  for (const Named& named : randomInstances()) {
    registerGreedy(named);
  }
  for (const Named& named : structuredInstances()) {
    registerGreedy(named);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (skip_exact) {
    return 0;
  }
  std::printf(
      "\nExact methods, each attempt stopped after %g s; wall time in ms, median [range] of "
      "interleaved rounds\n"
      "| instance | candidates / elements / entries | literal search | search | GLPK | "
      "GLPK / search | root bound / LP bound | search result | GLPK result |\n"
      "|---|---|---|---|---|---|---|---|---|\n",
      limit);
  for (const ExactCase& c : exactCases()) {
    exactRow(c, limit);
  }
  return 0;
}
