// SPDX-License-Identifier: Apache-2.0
// Unicost set cover instances with known structure, shared by the tests and the benchmark.
//   randomUnicost  n candidates, each covering each of m elements with probability d.
//   hypercubeCycles(d)  the edges of the d-dimensional hypercube covering its 4-cycles (an
//     edge covers the 4-cycles it lies on); every edge lies on d - 1 of them.
//   monochromaticQuadruples(n)  the 4-point subsets of n points covering the splits of the
//     points into two non-empty sides that they lie wholly on one side of.
#ifndef VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_INSTANCES_HPP_
#define VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_INSTANCES_HPP_

#include <map>
#include <random>
#include <set>

namespace set_cover_instances {

using Instance = std::map<int, std::set<int>>;

inline Instance randomUnicost(int n, int m, double density, unsigned seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution covers(density);
  Instance instance;
  for (int c = 0; c < n; ++c) {
    std::set<int>& elements = instance[c];
    for (int e = 0; e < m; ++e) {
      if (covers(rng)) {
        elements.insert(e);
      }
    }
  }
  return instance;
}

inline Instance hypercubeCycles(int dimension) {
  // Edge (v, i) joins v and v ^ (1 << i) for v without bit i. A 4-cycle is a vertex v
  // without bits i < j together with the two directions.
  const int vertices = 1 << dimension;
  auto edge_id = [dimension](int v, int i) { return v * dimension + i; };
  Instance instance;
  int cycle = 0;
  for (int v = 0; v < vertices; ++v) {
    for (int i = 0; i < dimension; ++i) {
      for (int j = i + 1; j < dimension; ++j) {
        const int bit_i = 1 << i;
        const int bit_j = 1 << j;
        if ((v & (bit_i | bit_j)) != 0) {
          continue;
        }
        for (const int edge :
             {edge_id(v, i), edge_id(v, j), edge_id(v | bit_i, j), edge_id(v | bit_j, i)}) {
          instance[edge].insert(cycle);
        }
        ++cycle;
      }
    }
  }
  return instance;
}

inline Instance monochromaticQuadruples(int points) {
  // Splits are the masks with the last point on side 0 and at least one point on side 1.
  const int splits = 1 << (points - 1);
  Instance instance;
  int quadruple = 0;
  for (int a = 0; a < points; ++a) {
    for (int b = a + 1; b < points; ++b) {
      for (int c = b + 1; c < points; ++c) {
        for (int d = c + 1; d < points; ++d, ++quadruple) {
          const int members = (1 << a) | (1 << b) | (1 << c) | (1 << d);
          std::set<int>& covered = instance[quadruple];
          for (int side_one = 1; side_one < splits; ++side_one) {
            if ((members & side_one) == 0 || (members & side_one) == members) {
              covered.insert(side_one);
            }
          }
        }
      }
    }
  }
  return instance;
}

}  // namespace set_cover_instances

#endif  // VANTOREL_BASE_UTILS__TEST__OPTIMIZATION__SET_COVER_INSTANCES_HPP_
