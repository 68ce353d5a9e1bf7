// SPDX-License-Identifier: Apache-2.0
// MaxTree: a segment tree of int values by position, for the greedy's "first candidate with
// the largest gain" and "nearest candidate with the largest gain" picks.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__MAX_TREE_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__MAX_TREE_HPP_

#include <cstddef>
#include <vector>

namespace vantorel_base_utils {
namespace detail {

// Maximum over positions, with searches for the first or last position whose value
// reaches a threshold. Decrements are collected and applied to the inner nodes in one
// update, along the changed paths or, when many changed, by rebuilding all inner nodes.
class MaxTree {
 public:
  explicit MaxTree(const std::vector<int>& values);

  int max() const { return tree_[1]; }

  // Lowers the value at `position` by one; max() and the searches see it after update().
  void decrement(int position);
  void update();

  // First position >= from whose value is at least threshold, or -1.
  int firstAtLeast(int from, int threshold) const;
  // Last position < before whose value is at least threshold, or -1.
  int lastBefore(int before, int threshold) const;

 private:
  int firstIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t from,
              int threshold) const;
  int lastIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t before,
             int threshold) const;
  void rebuild();
  void refreshPath(std::size_t leaf);

  std::size_t leaves_ = 1;
  std::size_t depth_ = 1;
  std::vector<int> tree_;
  std::vector<char> pending_flag_;
  std::vector<std::size_t> pending_;
};

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__MAX_TREE_HPP_
