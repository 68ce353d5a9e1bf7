// SPDX-License-Identifier: Apache-2.0
// vantorel_set_cover: solves a set cover instance from a file and checks the cover.
#include <chrono>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <stdexcept>
#include <string>

#include "set_cover_instance.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace {

namespace vbu = vantorel_base_utils;

constexpr const char* kUsage =
    R"(usage: vantorel_set_cover [--method greedy|propagate|ilp] [--prefer-nearby]
                          [--time-limit SECONDS] [--ignore-costs] FILE

FILE holds a JSON object from candidate id to its list of elements, or an instance in the
OR-Library set cover text format (candidates are the columns 1..n). The tool picks as few
candidates as possible; an OR-Library file whose column costs are not all 1 is refused
unless --ignore-costs, which solves it as if every cost were 1. A file must be a regular
file of at most 64 MiB; JSON may nest at most 64 levels.

  --method           greedy (default), propagate (exact branch-and-bound) or ilp (GLPK)
  --prefer-nearby    greedy only: break ties towards the id of the previous pick
  --time-limit S     exact methods only: stop S seconds after the solve starts (the file
                     is read before), set-up included, with the best cover found; both
                     start from the greedy cover, so they never return a larger one (exit
                     status 1 if the limit passed before even that was complete)
  --ignore-costs     read OR-Library costs other than 1 as 1
  --help             print this text

An option that the chosen method does not use is refused. Prints the selected ids, the
cover size and the solve time, for the exact methods also the lower bound, the gap, the
search nodes, whether the cover is proven minimal, whether the time limit stopped the
method, and where the cover comes from (the greedy start, the search or GLPK); then checks
that the selection covers every element.
)";

struct Command {
  std::string path;
  vbu::SolveMethod method = vbu::SolveMethod::Greedy;
  bool prefer_nearby = false;
  bool ignore_costs = false;
  vbu::SetCoverOptions limits;
  bool help = false;

  bool exact() const {
    return method == vbu::SolveMethod::Propagate || method == vbu::SolveMethod::ILP;
  }
};

vbu::SolveMethod methodNamed(const std::string& name) {
  if (name == "greedy") {
    return vbu::SolveMethod::Greedy;
  }
  if (name == "propagate") {
    return vbu::SolveMethod::Propagate;
  }
  if (name == "ilp") {
    return vbu::SolveMethod::ILP;
  }
  throw std::invalid_argument("unknown method " + name);
}

double secondsFrom(const std::string& text) {
  std::size_t used = 0;
  double seconds = 0.0;
  try {
    seconds = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(seconds) || seconds <= 0.0) {
    throw std::invalid_argument("--time-limit needs a positive number of seconds, not \"" + text +
                                "\"");
  }
  return seconds;
}

// An option the method would ignore is a mistake worth hearing about: a time limit given to
// greedy bounds nothing, and the exact methods break no ties by nearness.
void refuseUnusedOptions(const Command& command) {
  if (command.limits.time_limit_seconds > 0.0 && !command.exact()) {
    throw std::invalid_argument(
        "--time-limit applies to the exact methods only (--method propagate or ilp); greedy "
        "has no limit to keep");
  }
  if (command.prefer_nearby && command.exact()) {
    throw std::invalid_argument(
        "--prefer-nearby applies to --method greedy only; the exact methods do not use it");
  }
}

Command parseCommand(int argc, char** argv) {
  Command command;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      command.help = true;
    } else if (arg == "--prefer-nearby") {
      command.prefer_nearby = true;
    } else if (arg == "--ignore-costs") {
      command.ignore_costs = true;
    } else if (arg == "--method" && i + 1 < argc) {
      command.method = methodNamed(argv[++i]);
    } else if (arg == "--time-limit" && i + 1 < argc) {
      command.limits.time_limit_seconds = secondsFrom(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && command.path.empty()) {
      command.path = arg;
    } else {
      throw std::invalid_argument("unexpected argument " + arg);
    }
  }
  if (command.path.empty() && !command.help) {
    throw std::invalid_argument("no instance file given");
  }
  refuseUnusedOptions(command);
  return command;
}

template <typename T>
vbu::SetCoverResult solveInstance(const std::map<int, std::set<T>>& instance,
                                  const Command& command) {
  using Solver = vbu::SetCoverSolver<T>;
  switch (command.method) {
    case vbu::SolveMethod::Propagate:
      return Solver::solveByPropagate(instance, command.limits);
    case vbu::SolveMethod::ILP:
      return Solver::solveByILP(instance, command.limits);
    default: {
      vbu::SetCoverResult greedy;
      greedy.ids = Solver::solveByGreedy(instance, command.prefer_nearby);
      return greedy;
    }
  }
}

void printBound(const vbu::SetCoverResult& result) {
  const auto size = static_cast<int>(result.ids.size());
  std::cout << "lower bound: " << result.lower_bound << "\n";
  if (!result.ids.empty()) {
    const int gap = size - result.lower_bound;
    std::cout << "gap: " << gap << " (" << std::fixed << std::setprecision(1) << 100.0 * gap / size
              << "%)\n"
              << std::defaultfloat;
  }
  std::cout << "nodes: " << result.nodes
            << "\nproven minimal: " << (result.proven_minimal ? "yes" : "no") << "\n";
}

// Whether the limit stopped the method, and whose cover it returned.
void printOrigin(const vbu::SetCoverResult& result, const Command& command) {
  if (command.limits.time_limit_seconds > 0.0) {
    std::cout << "time limit reached: " << (result.limit_reached ? "yes" : "no") << "\n";
  }
  if (result.ids.empty()) {
    return;
  }
  const char* method = command.method == vbu::SolveMethod::ILP ? "GLPK" : "search";
  std::cout << "cover from: " << (result.greedy_cover ? "greedy start" : method) << "\n";
}

template <typename T>
bool instanceIsEmpty(const std::map<int, std::set<T>>& instance) {
  for (const auto& entry : instance) {
    if (!entry.second.empty()) {
      return false;
    }
  }
  return true;
}

template <typename T>
int solveAndReport(const std::map<int, std::set<T>>& instance, const Command& command) {
  const auto start = std::chrono::steady_clock::now();
  const vbu::SetCoverResult result = solveInstance(instance, command);
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::cout << "selected:";
  for (int id : result.ids) {
    std::cout << ' ' << id;
  }
  std::cout << "\ncover size: " << result.ids.size() << "\nsolve time: " << elapsed.count()
            << " ms\n";
  if (command.exact()) {
    printBound(result);
    printOrigin(result, command);
  }
  if (result.ids.empty() && !instanceIsEmpty(instance)) {
    std::cout << "no cover found within the time limit\n";
    return 1;
  }
  const auto uncovered = vantorel_tools::uncoveredElements(instance, result.ids);
  if (!uncovered.empty()) {
    std::cout << "cover check: FAILED, " << uncovered.size() << " elements uncovered\n";
    return 1;
  }
  std::cout << "cover check: ok\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Command command;
  try {
    command = parseCommand(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "vantorel_set_cover: " << e.what() << "\n" << kUsage;
    return 2;
  }
  if (command.help) {
    std::cout << kUsage;
    return 0;
  }
  try {
    vantorel_tools::InstanceReadOptions options;
    options.ignore_costs = command.ignore_costs;
    const vantorel_tools::SetCoverInput input = vantorel_tools::parseSetCoverInstance(
        vantorel_tools::readInstanceFile(command.path), options);
    if (input.costs_ignored) {
      std::cout << "note: column costs other than 1 ignored; solving as if every cost were 1\n";
    }
    return std::visit([&](const auto& i) { return solveAndReport(i, command); }, input.instance);
  } catch (const std::exception& e) {
    std::cerr << "vantorel_set_cover: " << command.path << ": " << e.what() << "\n";
    return 1;
  }
}
