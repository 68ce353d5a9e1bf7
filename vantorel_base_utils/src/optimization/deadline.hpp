// SPDX-License-Identifier: Apache-2.0
// The time limit of a limited set cover solve, counted from the call. Set-up and search loops
// over millions of entries ask it often; it reads the clock only once per batch of work, so
// asking per entry costs next to nothing and the overrun stays a small fraction of a second.
#ifndef VANTOREL_BASE_UTILS__OPTIMIZATION__DEADLINE_HPP_
#define VANTOREL_BASE_UTILS__OPTIMIZATION__DEADLINE_HPP_

#include <chrono>
#include <cstddef>

namespace vantorel_base_utils {
namespace detail {

// Thrown by Deadline::check; the limited solvers catch it and answer with the best cover they
// hold by then.
struct DeadlinePassed {};

// Belongs to one call (one thread): the batch count is not synchronised.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  Deadline() = default;  // no limit

  // `seconds` from now; no limit for zero, a negative number, NaN or more than 1e9 seconds.
  static Deadline after(double seconds) {
    Deadline deadline;
    if (seconds > 0.0 && seconds <= 1e9) {
      deadline.limited_ = true;
      deadline.at_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    }
    return deadline;
  }

  bool limited() const { return limited_; }
  Clock::time_point at() const { return at_; }

  // Reads the clock.
  bool passed() const {
    if (limited_ && !passed_ && Clock::now() >= at_) {
      passed_ = true;
    }
    return passed_;
  }

  // Whether the limit has passed, reading the clock only after about kBatch units of work
  // (one unit is about one list entry visited) since it last did.
  bool passedAfter(std::size_t work) const {
    if (!limited_) {
      return false;
    }
    if (passed_ || work >= budget_) {
      budget_ = kBatch;
      return passed();
    }
    budget_ -= work;
    return false;
  }

  // Throws DeadlinePassed when passedAfter(work) is true.
  void check(std::size_t work) const {
    if (passedAfter(work)) {
      throw DeadlinePassed{};
    }
  }

 private:
  static constexpr std::size_t kBatch = std::size_t{1} << 15;

  bool limited_ = false;
  Clock::time_point at_{};
  mutable bool passed_ = false;
  mutable std::size_t budget_ = 0;  // the clock is read at the first question
};

}  // namespace detail
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__OPTIMIZATION__DEADLINE_HPP_
