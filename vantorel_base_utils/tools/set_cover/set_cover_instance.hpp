// SPDX-License-Identifier: Apache-2.0
// Set cover instances read from files: a JSON object from candidate id to its elements, or
// the OR-Library text format (rows, columns, column costs, then for each row the number of
// columns covering it and those columns, 1-based).
#ifndef VANTOREL_BASE_UTILS__TOOLS__SET_COVER__SET_COVER_INSTANCE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__SET_COVER__SET_COVER_INSTANCE_HPP_

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vantorel_tools {

using IntInstance = std::map<int, std::set<int>>;
using StringInstance = std::map<int, std::set<std::string>>;

// Largest instance file read, and deepest nesting of a JSON instance (the object and its
// arrays take two levels; the rest is left to elements that are themselves JSON values).
constexpr std::size_t kMaxInstanceBytes = std::size_t{64} << 20;
constexpr int kMaxJsonDepth = 64;

struct InstanceReadOptions {
  // Read OR-Library column costs other than 1 as 1 instead of refusing the instance.
  bool ignore_costs = false;
};

struct SetCoverInput {
  std::variant<IntInstance, StringInstance> instance;
  bool costs_ignored = false;  // the file had costs other than 1, read as 1
};

// The bytes of the file at `path`, which must be a regular file (a folder, device or FIFO
// is refused without reading or blocking) of at most kMaxInstanceBytes. Throws
// std::runtime_error whose message does not repeat the path.
std::string readInstanceFile(const std::string& path);

// JSON elements that are all integers give an IntInstance, otherwise strings. OR-Library
// columns become candidates 1..n covering rows 1..m. Throws std::runtime_error on bad input,
// on JSON nested deeper than kMaxJsonDepth, on an OR-Library row that no column covers (the
// instance has no cover) and on costs other than 1 unless options.ignore_costs.
SetCoverInput parseSetCoverInstance(const std::string& text,
                                    const InstanceReadOptions& options = {});

// Elements of the union of all sets that none of the selected candidates covers. Works on
// sorted copies rather than a tree of the union, which for millions of elements takes many
// times longer than the solve it checks.
template <typename T>
std::set<T> uncoveredElements(const std::map<int, std::set<T>>& instance,
                              const std::vector<int>& selected) {
  std::vector<T> universe;
  for (const auto& [id, elements] : instance) {
    universe.insert(universe.end(), elements.begin(), elements.end());
  }
  std::sort(universe.begin(), universe.end());
  universe.erase(std::unique(universe.begin(), universe.end()), universe.end());
  std::vector<char> covered(universe.size(), 0);
  for (int id : selected) {
    const auto it = instance.find(id);
    if (it == instance.end()) {
      continue;
    }
    for (const auto& e : it->second) {
      covered[static_cast<std::size_t>(std::lower_bound(universe.begin(), universe.end(), e) -
                                       universe.begin())] = 1;
    }
  }
  std::set<T> uncovered;
  for (std::size_t i = 0; i < universe.size(); ++i) {
    if (covered[i] == 0) {
      uncovered.insert(uncovered.end(), universe[i]);
    }
  }
  return uncovered;
}

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__SET_COVER__SET_COVER_INSTANCE_HPP_
