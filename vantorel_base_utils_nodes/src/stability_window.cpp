// SPDX-License-Identifier: Apache-2.0
#include "stability_window.hpp"

#include <algorithm>

namespace vantorel_base_utils_nodes {

Eigen::Quaterniond signAlignedMean(const std::deque<TransformSample>& samples,
                                   const Eigen::Quaterniond& reference) {
  Eigen::Vector4d sum = Eigen::Vector4d::Zero();
  for (const TransformSample& sample : samples) {
    const Eigen::Vector4d q = sample.rotation.coeffs();
    sum += q.dot(reference.coeffs()) < 0.0 ? Eigen::Vector4d(-q) : q;
  }
  const double norm = sum.norm();
  // Aligned unit quaternions cannot cancel out unless the samples are spread over half a turn
  // or more; the reference is then as good a mean as any.
  if (!(norm > 1e-12)) {
    return reference;
  }
  return Eigen::Quaterniond(Eigen::Vector4d(sum / norm));
}

StabilityWindow::StabilityWindow(const StabilityLimits& limits, std::size_t max_samples)
    : limits_(limits), max_samples_(std::max<std::size_t>(max_samples, 1)) {}

StabilityWindow::AddResult StabilityWindow::add(const TransformSample& sample) {
  AddResult result = AddResult::kAdded;
  if (!samples_.empty()) {
    if (sample.stamp_ns == samples_.back().stamp_ns) {
      return AddResult::kNotNewer;
    }
    if (sample.stamp_ns < samples_.back().stamp_ns) {
      samples_.clear();
      result = AddResult::kRestarted;
    }
  }
  if (samples_.empty()) {
    run_start_ns_ = sample.stamp_ns;
  }
  samples_.push_back(sample);
  if (samples_.size() > max_samples_) {
    samples_.pop_front();  // forgotten for memory only: the run's start stays
  }
  measure();
  while (samples_.size() > 1 && !withinLimits()) {
    samples_.pop_front();
    run_start_ns_ = samples_.front().stamp_ns;
    measure();
  }
  return result;
}

bool StabilityWindow::withinLimits() const {
  return statistics_.translation_spread <= limits_.max_translation_spread &&
         statistics_.rotation_spread <= limits_.max_rotation_spread;
}

void StabilityWindow::measure() {
  WindowStatistics& s = statistics_;
  s.sample_count = samples_.size();
  s.mean_translation.setZero();
  for (const TransformSample& sample : samples_) {
    s.mean_translation += sample.translation;
  }
  s.mean_translation /= static_cast<double>(samples_.size());
  s.mean_rotation = signAlignedMean(samples_, samples_.back().rotation);
  s.translation_spread = 0.0;
  s.rotation_spread = 0.0;
  for (const TransformSample& sample : samples_) {
    s.translation_spread =
        std::max(s.translation_spread, (sample.translation - s.mean_translation).norm());
    s.rotation_spread =
        std::max(s.rotation_spread, sample.rotation.angularDistance(s.mean_rotation));
  }
  s.held_ns = samples_.back().stamp_ns - run_start_ns_;
  s.stable = withinLimits() && s.held_ns >= limits_.min_stable_duration_ns;
}

}  // namespace vantorel_base_utils_nodes
