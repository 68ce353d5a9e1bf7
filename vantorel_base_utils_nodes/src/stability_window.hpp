// SPDX-License-Identifier: Apache-2.0
// Whether a stream of transform samples has held still: a window of the most recent samples
// that all lie within a translation and a rotation spread of their mean, and how long that
// window spans in the samples' own time. Free of ROS types, so that the statistics can be
// tested and reused without a node.
#ifndef VANTOREL_BASE_UTILS_NODES__STABILITY_WINDOW_HPP_
#define VANTOREL_BASE_UTILS_NODES__STABILITY_WINDOW_HPP_

#include <cstddef>
#include <cstdint>
#include <deque>

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace vantorel_base_utils_nodes {

struct TransformSample {
  std::int64_t stamp_ns = 0;  // the transform's own time stamp
  Eigen::Vector3d translation = Eigen::Vector3d::Zero();
  Eigen::Quaterniond rotation = Eigen::Quaterniond::Identity();  // of unit length
};

// Limits a window must keep to count as stable. A spread equal to its limit is within it.
struct StabilityLimits {
  double max_translation_spread = 0.0;  // metres
  double max_rotation_spread = 0.0;     // radians
  std::int64_t min_stable_duration_ns = 0;
};

// The window's statistics after the latest sample.
struct WindowStatistics {
  Eigen::Vector3d mean_translation = Eigen::Vector3d::Zero();
  Eigen::Quaterniond mean_rotation = Eigen::Quaterniond::Identity();
  double translation_spread = 0.0;  // largest distance of a sample from mean_translation
  double rotation_spread = 0.0;     // largest angle between a sample and mean_rotation
  std::size_t sample_count = 0;
  std::int64_t held_ns = 0;  // from the start of the still run to the newest sample
  bool stable = false;       // held_ns reached the limits' minimum duration
};

// Mean of unit quaternions, each first flipped into the hemisphere of `reference` (q and -q
// are one rotation), summed and normalised. It differs from the exact mean (the principal
// eigenvector of the sum of q q^T) by about spread^3 / 35: measured on small lopsided windows
// of rotations within 0.01 rad of a common rotation, at most 2.9e-8 rad; within 0.1 rad,
// 2.9e-5 rad; within 0.5 rad, 3.7e-3 rad. Far below any spread a window accepts.
Eigen::Quaterniond signAlignedMean(const std::deque<TransformSample>& samples,
                                   const Eigen::Quaterniond& reference);

class StabilityWindow {
 public:
  // A request asking for a long still run would otherwise grow its window without bound; past
  // this many samples (64 KiB; 34 s at 30 Hz) the oldest are forgotten but the run's start is
  // kept, so a long run still counts in full while its spreads are measured over the newest.
  static constexpr std::size_t kDefaultMaxSamples = 1024;

  enum class AddResult {
    kAdded,      // a newer sample, counted
    kNotNewer,   // the same stamp as the newest sample: the transform has not been updated
    kRestarted,  // an older stamp: the source's clock went back, the run starts again
  };

  explicit StabilityWindow(const StabilityLimits& limits,
                           std::size_t max_samples = kDefaultMaxSamples);

  // Counts the sample if its stamp is newer than the newest one, then drops the oldest
  // samples until the rest lie within both spreads of their mean.
  AddResult add(const TransformSample& sample);

  bool empty() const { return samples_.empty(); }
  const TransformSample& newest() const { return samples_.back(); }
  const WindowStatistics& statistics() const { return statistics_; }
  const StabilityLimits& limits() const { return limits_; }

 private:
  void measure();
  bool withinLimits() const;

  StabilityLimits limits_;
  std::size_t max_samples_;
  std::deque<TransformSample> samples_;
  std::int64_t run_start_ns_ = 0;
  WindowStatistics statistics_;
};

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__STABILITY_WINDOW_HPP_
