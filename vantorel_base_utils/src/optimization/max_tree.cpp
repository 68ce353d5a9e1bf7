// SPDX-License-Identifier: Apache-2.0
// The segment tree behind the greedy's picks.
#include "optimization/max_tree.hpp"

#include <algorithm>

namespace vantorel_base_utils {
namespace detail {

MaxTree::MaxTree(const std::vector<int>& values) {
  while (leaves_ < values.size()) {
    leaves_ *= 2;
    ++depth_;
  }
  tree_.assign(2 * leaves_, 0);
  std::copy(values.begin(), values.end(), tree_.begin() + static_cast<std::ptrdiff_t>(leaves_));
  pending_flag_.assign(leaves_, 0);
  rebuild();
}

void MaxTree::decrement(int position) {
  const auto leaf = static_cast<std::size_t>(position);
  --tree_[leaves_ + leaf];
  if (pending_flag_[leaf] == 0) {
    pending_flag_[leaf] = 1;
    pending_.push_back(leaf);
  }
}

void MaxTree::update() {
  if (pending_.size() * depth_ > leaves_) {
    rebuild();
  } else {
    for (const std::size_t leaf : pending_) {
      refreshPath(leaf);
    }
  }
  for (const std::size_t leaf : pending_) {
    pending_flag_[leaf] = 0;
  }
  pending_.clear();
}

int MaxTree::firstAtLeast(int from, int threshold) const {
  return firstIn(1, 0, leaves_, static_cast<std::size_t>(from), threshold);
}

int MaxTree::lastBefore(int before, int threshold) const {
  return lastIn(1, 0, leaves_, static_cast<std::size_t>(before), threshold);
}

int MaxTree::firstIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t from,
                     int threshold) const {
  if (hi <= from || tree_[node] < threshold) {
    return -1;
  }
  if (hi - lo == 1) {
    return static_cast<int>(lo);
  }
  const std::size_t mid = (lo + hi) / 2;
  const int left = firstIn(2 * node, lo, mid, from, threshold);
  return left >= 0 ? left : firstIn(2 * node + 1, mid, hi, from, threshold);
}

int MaxTree::lastIn(std::size_t node, std::size_t lo, std::size_t hi, std::size_t before,
                    int threshold) const {
  if (lo >= before || tree_[node] < threshold) {
    return -1;
  }
  if (hi - lo == 1) {
    return static_cast<int>(lo);
  }
  const std::size_t mid = (lo + hi) / 2;
  const int right = lastIn(2 * node + 1, mid, hi, before, threshold);
  return right >= 0 ? right : lastIn(2 * node, lo, mid, before, threshold);
}

void MaxTree::rebuild() {
  for (std::size_t node = leaves_ - 1; node >= 1; --node) {
    tree_[node] = std::max(tree_[2 * node], tree_[2 * node + 1]);
  }
}

void MaxTree::refreshPath(std::size_t leaf) {
  for (std::size_t node = (leaves_ + leaf) / 2; node >= 1; node /= 2) {
    const int updated = std::max(tree_[2 * node], tree_[2 * node + 1]);
    if (tree_[node] == updated) {
      break;
    }
    tree_[node] = updated;
  }
}

}  // namespace detail
}  // namespace vantorel_base_utils
