// SPDX-License-Identifier: Apache-2.0
// Dense numbering of set cover instances and the sparse transpose of their lists.
#include "optimization/dense_instance.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace vantorel_base_utils {
namespace detail {

Incidence transpose(const std::vector<std::size_t>& begin, const std::vector<int>& items,
                    int num_targets, const Deadline& deadline) {
  Incidence t;
  t.begin.assign(static_cast<std::size_t>(num_targets) + 1, 0);
  for (const int target : items) {
    ++t.begin[static_cast<std::size_t>(target) + 1];
  }
  std::partial_sum(t.begin.begin(), t.begin.end(), t.begin.begin());
  t.items.resize(items.size());
  std::vector<std::size_t> next(t.begin.begin(), t.begin.end() - 1);
  for (std::size_t source = 0; source + 1 < begin.size(); ++source) {
    deadline.check(begin[source + 1] - begin[source] + 1);
    for (std::size_t k = begin[source]; k < begin[source + 1]; ++k) {
      t.items[next[static_cast<std::size_t>(items[k])]++] = static_cast<int>(source);
    }
  }
  return t;
}

namespace {

// std::sort in runs, merged pairwise, asking the deadline between runs and merges: one call
// of std::sort on millions of strings would take longer than a limit allows to overrun.
template <typename Iterator, typename Less>
void sortWithin(Iterator first, Iterator last, Less less, const Deadline& deadline) {
  constexpr std::ptrdiff_t kRun = std::ptrdiff_t{1} << 14;
  const std::ptrdiff_t size = last - first;
  for (std::ptrdiff_t lo = 0; lo < size; lo += kRun) {
    std::sort(first + lo, first + std::min(size, lo + kRun), less);
    deadline.check(static_cast<std::size_t>(kRun) * 16);
  }
  for (std::ptrdiff_t width = kRun; width < size; width *= 2) {
    for (std::ptrdiff_t lo = 0; lo + width < size; lo += 2 * width) {
      std::inplace_merge(first + lo, first + lo + width, first + std::min(size, lo + 2 * width),
                         less);
      deadline.check(static_cast<std::size_t>(2 * width));
    }
  }
}

// Integer elements spanning a range not much larger than the instance are numbered through
// a table indexed by value, which avoids hashing or sorting every occurrence.
template <typename T>
bool numberByTable(const std::map<int, std::set<T>>& candidates, std::vector<int>& out,
                   int& num_elems, const Deadline& deadline) {
  using Unsigned = std::make_unsigned_t<T>;
  bool any = false;
  T low{};
  T high{};
  for (const auto& entry : candidates) {
    const std::set<T>& elements = entry.second;
    if (elements.empty()) {
      continue;
    }
    low = any ? std::min(low, *elements.begin()) : *elements.begin();
    high = any ? std::max(high, *elements.rbegin()) : *elements.rbegin();
    any = true;
  }
  if (!any) {
    num_elems = 0;
    return true;
  }
  const auto span =
      static_cast<std::uint64_t>(static_cast<Unsigned>(high) - static_cast<Unsigned>(low));
  if (span >= 4 * static_cast<std::uint64_t>(out.size()) + 1024 ||
      span >= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
    return false;
  }
  std::vector<int> rank(static_cast<std::size_t>(span) + 1, 0);
  std::size_t k = 0;
  for (const auto& entry : candidates) {
    deadline.check(entry.second.size() + 1);
    for (const T& element : entry.second) {
      const auto offset =
          static_cast<std::size_t>(static_cast<Unsigned>(element) - static_cast<Unsigned>(low));
      rank[offset] = 1;
      out[k++] = static_cast<int>(offset);
    }
  }
  int next = 0;
  for (int& r : rank) {
    r = r != 0 ? next++ : 0;
  }
  for (int& index : out) {
    index = rank[static_cast<std::size_t>(index)];
  }
  num_elems = next;
  return true;
}

template <typename T>
void numberByHash(const std::map<int, std::set<T>>& candidates, std::vector<int>& out,
                  int& num_elems, const Deadline& deadline) {
  std::unordered_map<T, int> index;
  std::vector<int*> slot_of_occurrence(out.size());
  std::size_t k = 0;
  for (const auto& entry : candidates) {
    deadline.check(entry.second.size() + 1);
    for (const T& element : entry.second) {
      slot_of_occurrence[k++] = &index.try_emplace(element, 0).first->second;
    }
  }
  std::vector<std::pair<const T*, int*>> by_element;
  by_element.reserve(index.size());
  for (auto& entry : index) {
    by_element.emplace_back(&entry.first, &entry.second);
  }
  sortWithin(
      by_element.begin(), by_element.end(),
      [](const auto& a, const auto& b) { return std::less<T>()(*a.first, *b.first); }, deadline);
  int next = 0;
  for (auto& entry : by_element) {
    *entry.second = next++;
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = *slot_of_occurrence[i];
  }
  num_elems = next;
}

}  // namespace

template <typename T>
DenseInstance denseInstance(const std::map<int, std::set<T>>& candidates,
                            const Deadline& deadline) {
  DenseInstance d;
  d.ids.reserve(candidates.size());
  d.elem_begin.reserve(candidates.size() + 1);
  d.elem_begin.push_back(0);
  std::size_t total = 0;
  for (const auto& entry : candidates) {
    deadline.check(1);
    d.ids.push_back(entry.first);
    total += entry.second.size();
    d.elem_begin.push_back(total);
  }
  d.elems.resize(total);
  if constexpr (std::is_integral_v<T>) {
    if (numberByTable(candidates, d.elems, d.num_elems, deadline)) {
      return d;
    }
  }
  numberByHash(candidates, d.elems, d.num_elems, deadline);
  return d;
}

template DenseInstance denseInstance(const std::map<int, std::set<int>>&, const Deadline&);
template DenseInstance denseInstance(const std::map<int, std::set<std::string>>&, const Deadline&);
template DenseInstance denseInstance(const std::map<int, std::set<unsigned long>>&,
                                     const Deadline&);

}  // namespace detail
}  // namespace vantorel_base_utils
