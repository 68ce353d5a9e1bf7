// SPDX-License-Identifier: Apache-2.0
// A set cover instance renumbered densely: candidate i is the i-th smallest id, element e the
// e-th smallest element. The greedy, the exact search and the GLPK program all start here, so
// each element is looked up once per call whatever its type.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__DENSE_INSTANCE_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__DENSE_INSTANCE_HPP_

#include <cstddef>
#include <map>
#include <set>
#include <vector>

#include "optimization/deadline.hpp"

namespace vantorel_base_utils {
namespace detail {

// Each candidate's elements are stored ascending in one flat array.
struct DenseInstance {
  std::vector<int> ids;
  std::vector<std::size_t> elem_begin;  // candidate i owns elems[elem_begin[i], elem_begin[i + 1])
  std::vector<int> elems;
  int num_elems = 0;

  int numCands() const { return static_cast<int>(ids.size()); }
};

// Compressed lists: target t lists items[begin[t], begin[t + 1]).
struct Incidence {
  std::vector<std::size_t> begin;
  std::vector<int> items;
};

// For every target index, the sources whose lists name it, ascending by source. Throws
// DeadlinePassed when `deadline` passes first, as the functions below taking one do.
Incidence transpose(const std::vector<std::size_t>& begin, const std::vector<int>& items,
                    int num_targets, const Deadline& deadline = Deadline());

// Provided for int, std::string and unsigned long elements.
template <typename T>
DenseInstance denseInstance(const std::map<int, std::set<T>>& candidates,
                            const Deadline& deadline = Deadline());

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__DENSE_INSTANCE_HPP_
