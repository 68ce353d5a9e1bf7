// Set cover instances read from files: a JSON object from candidate id to its elements, or
// the OR-Library text format (rows, columns, costs, then for each row the columns covering it).
#ifndef VANTOREL_TOOLS__SET_COVER_INSTANCE_HPP_
#define VANTOREL_TOOLS__SET_COVER_INSTANCE_HPP_

#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vantorel_tools {

using IntInstance = std::map<int, std::set<int>>;
using StringInstance = std::map<int, std::set<std::string>>;

// JSON elements that are all integers give an IntInstance, otherwise strings. OR-Library
// columns become candidates 1..n covering rows 1..m. Throws std::runtime_error on bad input.
std::variant<IntInstance, StringInstance> parseSetCoverInstance(const std::string& text);

// Elements of the union of all sets that none of the selected candidates covers.
template <typename T>
std::set<T> uncoveredElements(const std::map<int, std::set<T>>& instance,
                              const std::vector<int>& selected) {
  std::set<T> uncovered;
  for (const auto& [id, elements] : instance) {
    uncovered.insert(elements.begin(), elements.end());
  }
  for (int id : selected) {
    const auto it = instance.find(id);
    if (it != instance.end()) {
      for (const auto& e : it->second) {
        uncovered.erase(e);
      }
    }
  }
  return uncovered;
}

}  // namespace vantorel_tools

#endif  // VANTOREL_TOOLS__SET_COVER_INSTANCE_HPP_
