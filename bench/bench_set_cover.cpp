// Set cover methods against the literal implementations of the test oracle, on random
// unicost instances and on two structured unicost families built here:
//   cyc.d  candidates are the edges of the d-dimensional hypercube, elements its 4-cycles;
//          an edge covers the 4-cycles it lies on.
//   clr.n  candidates are the 4-point subsets of n points, elements the splits of the
//          points into two non-empty sides; a subset covers a split when it lies wholly
//          on one side.
// Every benchmark first checks that the fast method returns exactly the literal ids.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "optimization/set_cover_instances.hpp"
#include "optimization/set_cover_internal.hpp"
#include "optimization/set_cover_oracle.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace {

using Instance = std::map<int, std::set<int>>;
using Solver = vantorel_base_utils::SetCoverSolver<int>;

using set_cover_instances::hypercubeCycles;
using set_cover_instances::monochromaticQuadruples;
using set_cover_instances::randomUnicost;

struct Named {
  std::string name;
  Instance instance;
};

const std::vector<Named>& randomInstances() {
  static const std::vector<Named> instances = {
      {"rand.50.200.05", randomUnicost(50, 200, 0.05, 1)},
      {"rand.200.500.02", randomUnicost(200, 500, 0.02, 2)},
      {"rand.200.500.05", randomUnicost(200, 500, 0.05, 3)},
      {"rand.1000.2000.02", randomUnicost(1000, 2000, 0.02, 4)},
      {"rand.1000.2000.05", randomUnicost(1000, 2000, 0.05, 5)},
      {"rand.30.100.10", randomUnicost(30, 100, 0.10, 6)},
      {"rand.60.150.05", randomUnicost(60, 150, 0.05, 7)},
      {"rand.100.300.03", randomUnicost(100, 300, 0.03, 8)},
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
  const auto expected = std::make_shared<std::vector<int>>();
  auto literal = [](const Instance& i) { return set_cover_oracle::greedy(i, false); };
  auto fast = [](const Instance& i) { return Solver::solveByGreedy(i, false); };
  benchmark::RegisterBenchmark(("greedy_literal/" + named.name).c_str(),
                               [&named, expected, literal](benchmark::State& state) {
                                 *expected = literal(named.instance);
                                 run(state, named.instance, literal, *expected);
                               })
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("greedy/" + named.name).c_str(), [&named, literal,
                                                                  fast](benchmark::State& state) {
    run(state, named.instance, fast, literal(named.instance));
  })->Unit(benchmark::kMillisecond);
}

// Which exact methods finish within a minute on which instance, as measured once; the
// others are left out so that a full run ends.
struct ExactPlan {
  const char* instance;
  bool literal;
  bool search;
  bool ilp;
};

const Named& instanceNamed(const std::string& name) {
  for (const auto* family : {&randomInstances(), &structuredInstances()}) {
    for (const Named& named : *family) {
      if (named.name == name) {
        return named;
      }
    }
  }
  throw std::invalid_argument("no instance " + name);
}

void registerExact(const ExactPlan& plan) {
  const Named& named = instanceNamed(plan.instance);
  if (plan.literal) {
    benchmark::RegisterBenchmark(("propagate_literal/" + named.name).c_str(),
                                 [&named](benchmark::State& state) {
                                   long long nodes = 0;
                                   auto literal = [&nodes](const Instance& i) {
                                     return set_cover_oracle::propagate<Solver::PropCtx>(i, &nodes);
                                   };
                                   run(state, named.instance, literal, literal(named.instance));
                                   state.counters["nodes"] = static_cast<double>(nodes);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  if (plan.search) {
    // Checked id for id against the literal search, or for size against GLPK.
    benchmark::RegisterBenchmark(("propagate/" + named.name).c_str(), [&named, plan](
                                                                          benchmark::State& state) {
      long long nodes = 0;
      auto fast = [&nodes](const Instance& i) {
        vantorel_base_utils::detail::SearchLimits limits;
        limits.seek_incumbent = true;
        vantorel_base_utils::detail::SearchReport report;
        auto ids = vantorel_base_utils::detail::solveByPropagateReported(i, limits, report);
        nodes = report.nodes;
        return ids;
      };
      std::vector<int> expected = fast(named.instance);
      if (plan.literal) {
        expected = set_cover_oracle::propagate<Solver::PropCtx>(named.instance);
      } else if (plan.ilp && Solver::solveByILP(named.instance).size() != expected.size()) {
        state.SkipWithError("not a minimum cover");
        return;
      }
      run(state, named.instance, fast, expected);
      state.counters["nodes"] = static_cast<double>(nodes);
    })->Unit(benchmark::kMillisecond);
  }
  if (plan.ilp) {
    // GLPK may return another minimum cover of the same size.
    benchmark::RegisterBenchmark(("ilp/" + named.name).c_str(), [&named](benchmark::State& state) {
      auto ilp = [](const Instance& i) { return Solver::solveByILP(i); };
      run(state, named.instance, ilp, ilp(named.instance));
    })->Unit(benchmark::kMillisecond);
  }
}

const std::vector<ExactPlan> kExactPlans = {
    {"rand.30.100.10", true, true, true},
    {"rand.50.200.05", true, true, true},
    {"rand.60.150.05", true, true, true},
    {"rand.100.300.03", true, true, true},
    {"cyc.4", true, true, true},
    {"clr.7", true, true, true},
    {"cyc.5", false, true, true},
    {"clr.8", false, false, true},
    {"rand.200.500.02", false, false, true},
};

}  // namespace

int main(int argc, char** argv) {
  for (const Named& named : randomInstances()) {
    registerGreedy(named);
  }
  for (const Named& named : structuredInstances()) {
    registerGreedy(named);
  }
  for (const ExactPlan& plan : kExactPlans) {
    registerExact(plan);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
