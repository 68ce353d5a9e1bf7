// Internal entry points of the set cover solver for measurements.
#ifndef OPTIMIZATION__SET_COVER_INTERNAL_HPP_
#define OPTIMIZATION__SET_COVER_INTERNAL_HPP_

#include <map>
#include <set>
#include <vector>

namespace vantorel_base_utils {
namespace detail {

// solveByPropagate that also counts the branch-and-bound nodes it visits.
template <typename T>
std::vector<int> solveByPropagateCounted(const std::map<int, std::set<T>>& candidates,
                                         long long& nodes);

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // OPTIMIZATION__SET_COVER_INTERNAL_HPP_
