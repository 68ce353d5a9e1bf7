// vantorel_set_cover: solves a set cover instance from a file and checks the cover.
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "set_cover_instance.hpp"
#include "vantorel_base_utils/set_cover.hpp"

namespace {

namespace vbu = vantorel_base_utils;

constexpr const char* kUsage =
    R"(usage: vantorel_set_cover [--method greedy|propagate|ilp] [--prefer-nearby] FILE

FILE holds a JSON object from candidate id to its list of elements, or an instance in the
OR-Library set cover text format (candidates are the columns 1..n). Prints the selected
ids, the cover size and the solve time, and checks that the selection covers every element.
)";

struct Command {
  std::string path;
  vbu::SolveMethod method = vbu::SolveMethod::Greedy;
  bool prefer_nearby = false;
};

Command parseCommand(int argc, char** argv) {
  Command command;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--prefer-nearby") {
      command.prefer_nearby = true;
    } else if (arg == "--method" && i + 1 < argc) {
      const std::string name = argv[++i];
      if (name == "greedy") {
        command.method = vbu::SolveMethod::Greedy;
      } else if (name == "propagate") {
        command.method = vbu::SolveMethod::Propagate;
      } else if (name == "ilp") {
        command.method = vbu::SolveMethod::ILP;
      } else {
        throw std::invalid_argument("unknown method " + name);
      }
    } else if (!arg.empty() && arg[0] != '-' && command.path.empty()) {
      command.path = arg;
    } else {
      throw std::invalid_argument("unexpected argument " + arg);
    }
  }
  if (command.path.empty()) {
    throw std::invalid_argument("no instance file given");
  }
  return command;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error(path + ": cannot open file");
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

template <typename T>
int solveAndReport(const std::map<int, std::set<T>>& instance, const Command& command) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<int> selected =
      vbu::SetCoverSolver<T>::solve(instance, command.method, command.prefer_nearby);
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::cout << "selected:";
  for (int id : selected) {
    std::cout << ' ' << id;
  }
  std::cout << "\ncover size: " << selected.size() << "\nsolve time: " << elapsed.count()
            << " ms\n";
  const auto uncovered = vantorel_tools::uncoveredElements(instance, selected);
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
  try {
    const auto instance = vantorel_tools::parseSetCoverInstance(readFile(command.path));
    return std::visit([&](const auto& i) { return solveAndReport(i, command); }, instance);
  } catch (const std::exception& e) {
    std::cerr << "vantorel_set_cover: " << command.path << ": " << e.what() << "\n";
    return 1;
  }
}
