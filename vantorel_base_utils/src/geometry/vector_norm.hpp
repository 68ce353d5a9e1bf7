// SPDX-License-Identifier: Apache-2.0
// Normalisation of small vectors that survives huge and tiny components; internal.
#ifndef VANTOREL_BASE_UTILS__GEOMETRY__VECTOR_NORM_HPP_
#define VANTOREL_BASE_UTILS__GEOMETRY__VECTOR_NORM_HPP_

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

namespace vantorel_base_utils {

// Divides `v` by its Euclidean norm and returns that norm. The squares are summed in the
// order given, so a caller keeps the exact rounding of its own formula. When their sum
// overflows or falls below the normal range, `v` is first divided by its largest magnitude:
// only the direction matters, and squares of huge or tiny components would lose it. A zero
// vector stays zero (norm 0); a vector with a non-finite component stays as it is and the
// norm is NaN, since it has no direction.
template <std::size_t N>
double normaliseInPlace(std::array<double, N>& v) {
  const auto sum_of_squares = [&v] {
    double sum = 0.0;
    for (const double c : v) {
      sum += c * c;
    }
    return sum;
  };
  const auto divide_by = [&v](double divisor) {
    for (double& c : v) {
      c /= divisor;
    }
  };
  const double squares = sum_of_squares();
  if (std::isfinite(squares) && squares >= std::numeric_limits<double>::min()) {
    const double norm = std::sqrt(squares);
    divide_by(norm);
    return norm;
  }
  double largest = 0.0;
  for (const double c : v) {
    if (!std::isfinite(c)) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    largest = std::max(largest, std::fabs(c));
  }
  if (largest == 0.0) {
    return 0.0;
  }
  divide_by(largest);
  const double scaled_norm = std::sqrt(sum_of_squares());
  divide_by(scaled_norm);
  return largest * scaled_norm;
}

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__GEOMETRY__VECTOR_NORM_HPP_
