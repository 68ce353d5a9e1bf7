// SPDX-License-Identifier: Apache-2.0
// The greedy set cover: repeatedly the candidate with the most uncovered elements, ties to
// the smallest id or to the id nearest the previous pick.
#include "optimization/greedy.hpp"

#include <algorithm>
#include <cstddef>

#include "optimization/max_tree.hpp"

namespace vantorel_base_utils {
namespace detail {

namespace {

// Among the positions with the largest gain, the one whose id is nearest to the id at
// position `last` (which has no gain left); the smaller id at equal distance.
int nearestWithGain(const MaxTree& gains, const std::vector<int>& ids, int last, int gain) {
  const int below = gains.lastBefore(last, gain);
  const int above = gains.firstAtLeast(last + 1, gain);
  if (below < 0 || above < 0) {
    return below < 0 ? above : below;
  }
  const auto last_id = static_cast<long long>(ids[static_cast<std::size_t>(last)]);
  const long long below_distance = last_id - ids[static_cast<std::size_t>(below)];
  const long long above_distance = ids[static_cast<std::size_t>(above)] - last_id;
  return above_distance < below_distance ? above : below;
}

}  // namespace

// Greedy picks with every candidate's gain (its still uncovered elements) kept up to date
// as elements become covered, instead of recounting all gains for every pick.
std::vector<int> greedyCover(const DenseInstance& d, bool prefer_nearby, const Deadline& deadline,
                             bool* complete) {
  if (d.num_elems == 0) {
    if (complete != nullptr) {
      *complete = true;
    }
    return {};
  }
  const Incidence covering = transpose(d.elem_begin, d.elems, d.num_elems, deadline);
  std::vector<int> gain(d.ids.size());
  for (std::size_t c = 0; c < gain.size(); ++c) {
    gain[c] = static_cast<int>(d.elem_begin[c + 1] - d.elem_begin[c]);
  }
  MaxTree gains(gain);
  std::vector<char> covered(static_cast<std::size_t>(d.num_elems), 0);
  int num_uncovered = d.num_elems;
  std::vector<int> picked;
  int last = -1;
  while (num_uncovered > 0) {
    const int best_gain = gains.max();
    if (best_gain <= 0) {
      break;
    }
    const int best = prefer_nearby && last >= 0 ? nearestWithGain(gains, d.ids, last, best_gain)
                                                : gains.firstAtLeast(0, best_gain);
    const auto best_index = static_cast<std::size_t>(best);
    if (d.ids[best_index] < 0) {
      break;  // a negative id means "no candidate" to the picking rule
    }
    picked.push_back(d.ids[best_index]);
    for (std::size_t k = d.elem_begin[best_index]; k < d.elem_begin[best_index + 1]; ++k) {
      const auto e = static_cast<std::size_t>(d.elems[k]);
      if (covered[e] != 0) {
        continue;
      }
      covered[e] = 1;
      --num_uncovered;
      deadline.check(covering.begin[e + 1] - covering.begin[e] + 1);
      for (std::size_t j = covering.begin[e]; j < covering.begin[e + 1]; ++j) {
        gains.decrement(covering.items[j]);
      }
    }
    gains.update();
    last = best;
  }
  if (complete != nullptr) {
    *complete = num_uncovered == 0;
  }
  std::sort(picked.begin(), picked.end());
  return picked;
}

}  // namespace detail
}  // namespace vantorel_base_utils
