// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstdio>
#include <deque>
#include <random>

#include "stability_window.hpp"

namespace vantorel_base_utils_nodes {
namespace {

constexpr std::int64_t kMs = 1000000;

StabilityLimits limits(double translation, double rotation, std::int64_t duration_ns) {
  return StabilityLimits{translation, rotation, duration_ns};
}

TransformSample sample(std::int64_t stamp_ms, const Eigen::Vector3d& t,
                       const Eigen::Quaterniond& q = Eigen::Quaterniond::Identity()) {
  return TransformSample{stamp_ms * kMs, t, q};
}

Eigen::Quaterniond aboutZ(double angle) {
  return Eigen::Quaterniond(Eigen::AngleAxisd(angle, Eigen::Vector3d::UnitZ()));
}

TEST(StabilityWindow, SpreadsAreLargestDeviationsFromTheMeanWhateverTheQuaternionSign) {
  StabilityWindow window(limits(1.0, 1.0, 0));
  const Eigen::Quaterniond base(Eigen::AngleAxisd(2.0, Eigen::Vector3d(1, 2, 3).normalized()));
  window.add(sample(0, {1.0, 2.0, 3.0}, base * aboutZ(0.02)));
  window.add(sample(10, {1.0, 2.0, 3.004}, base * aboutZ(-0.02)));
  // The same rotation as `base`, written with the opposite sign.
  window.add(sample(20, {1.0, 2.0, 3.002}, Eigen::Quaterniond(-base.coeffs())));

  const WindowStatistics& s = window.statistics();
  EXPECT_EQ(s.sample_count, 3u);
  EXPECT_NEAR((s.mean_translation - Eigen::Vector3d(1.0, 2.0, 3.002)).norm(), 0.0, 1e-12);
  EXPECT_NEAR(s.translation_spread, 0.002, 1e-12);
  EXPECT_NEAR(s.mean_rotation.angularDistance(base), 0.0, 1e-12);
  EXPECT_NEAR(s.rotation_spread, 0.02, 1e-12);
}

TEST(StabilityWindow, HoldsOnlyTheStillRunAfterTheMotionAndTimesItByStamps) {
  StabilityWindow window(limits(0.005, 0.01, 300 * kMs));
  for (int i = 0; i < 10; ++i) {  // moving 5 cm per sample
    window.add(sample(i * 50, {0.05 * i, 0.0, 0.0}));
  }
  EXPECT_EQ(window.statistics().sample_count, 1u);
  EXPECT_FALSE(window.statistics().stable);

  for (int i = 10; i < 17; ++i) {  // at rest from 500 ms on, 1 mm of noise
    EXPECT_FALSE(window.statistics().stable) << "stable before the run lasted 300 ms, at " << i;
    window.add(sample(i * 50, {0.5 + 0.001 * (i % 2), 0.0, 0.0}));
  }
  const WindowStatistics& s = window.statistics();
  EXPECT_EQ(s.sample_count, 7u);
  EXPECT_EQ(s.held_ns, 300 * kMs);
  EXPECT_TRUE(s.stable);
  EXPECT_NEAR(s.mean_translation.x(), 0.5 + 0.003 / 7, 1e-12);
  EXPECT_NEAR(s.translation_spread, 0.001 - 0.003 / 7, 1e-12);
}

TEST(StabilityWindow, ATransformThatStoppedUpdatingNeverBecomesStable) {
  StabilityWindow window(limits(0.005, 0.01, 100 * kMs));
  EXPECT_EQ(window.add(sample(1000, {1, 0, 0})), StabilityWindow::AddResult::kAdded);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(window.add(sample(1000, {1, 0, 0})), StabilityWindow::AddResult::kNotNewer);
  }
  EXPECT_EQ(window.statistics().sample_count, 1u);
  EXPECT_EQ(window.statistics().held_ns, 0);
  EXPECT_FALSE(window.statistics().stable);
}

TEST(StabilityWindow, AnOlderStampRestartsTheRun) {
  StabilityWindow window(limits(0.005, 0.01, 100 * kMs));
  window.add(sample(1000, {1, 0, 0}));
  window.add(sample(1200, {1, 0, 0}));
  ASSERT_TRUE(window.statistics().stable);
  EXPECT_EQ(window.add(sample(50, {1, 0, 0})), StabilityWindow::AddResult::kRestarted);
  EXPECT_EQ(window.statistics().sample_count, 1u);
  EXPECT_FALSE(window.statistics().stable);
}

TEST(StabilityWindow, ForgettingSamplesForMemoryKeepsTheRunsStart) {
  StabilityWindow window(limits(0.005, 0.01, 10000 * kMs), 8);
  for (int i = 0; i <= 1000; ++i) {
    window.add(sample(i * 10, {0, 0, 0.001 * (i % 3)}));
  }
  EXPECT_EQ(window.statistics().sample_count, 8u);
  EXPECT_EQ(window.statistics().held_ns, 10000 * kMs);
  EXPECT_TRUE(window.statistics().stable);
}

// The exact mean rotation: the principal eigenvector of the sum of q q^T.
Eigen::Quaterniond eigenvectorMean(const std::deque<TransformSample>& samples) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Zero();
  for (const TransformSample& s : samples) {
    m += s.rotation.coeffs() * s.rotation.coeffs().transpose();
  }
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix4d> solver(m);
  return Eigen::Quaterniond(Eigen::Vector4d(solver.eigenvectors().col(3)));
}

// Worst angle between the sign-aligned mean and the exact mean over random small windows of
// rotations within `spread` of a random rotation, some given with the opposite sign.
double worstMeanError(double spread) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  auto randomAxis = [&] { return Eigen::Vector3d(unit(rng), unit(rng), unit(rng)).normalized(); };
  double worst = 0.0;
  for (int trial = 0; trial < 2000; ++trial) {
    const Eigen::Quaterniond base(Eigen::AngleAxisd(M_PI * unit(rng), randomAxis()));
    std::deque<TransformSample> samples;
    const int count = 2 + trial % 6;  // small, lopsided windows are the hard case
    for (int i = 0; i < count; ++i) {
      Eigen::Quaterniond q =
          base * Eigen::Quaterniond(Eigen::AngleAxisd(spread * std::abs(unit(rng)), randomAxis()));
      if (i % 2 == 1) {
        q.coeffs() = -q.coeffs();
      }
      samples.push_back(TransformSample{i, Eigen::Vector3d::Zero(), q});
    }
    const Eigen::Quaterniond mean = signAlignedMean(samples, samples.back().rotation);
    worst = std::max(worst, mean.angularDistance(eigenvectorMean(samples)));
  }
  return worst;
}

TEST(SignAlignedMean, AgreesWithTheEigenvectorMeanWithinTheStatedAccuracy) {
  const double at_default = worstMeanError(0.01);
  const double at_tenth = worstMeanError(0.1);
  const double at_half = worstMeanError(0.5);
  std::printf(
      "sign-aligned mean vs eigenvector mean, worst angle: %.2e rad at 0.01 rad, "
      "%.2e rad at 0.1 rad, %.2e rad at 0.5 rad\n",
      at_default, at_tenth, at_half);
  EXPECT_LT(at_default, 3e-8);
  EXPECT_LT(at_tenth, 3e-5);
  EXPECT_LT(at_half, 4e-3);
}

}  // namespace
}  // namespace vantorel_base_utils_nodes
