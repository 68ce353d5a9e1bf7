// SPDX-License-Identifier: Apache-2.0
// The transforms tf_motion_publisher sends, shared with the tests that check the server's
// answers against them. All frames hang from kParent.
#ifndef VANTOREL_BASE_UTILS_NODES_TEST__TF_MOTION_HPP_
#define VANTOREL_BASE_UTILS_NODES_TEST__TF_MOTION_HPP_

#include <algorithm>
#include <cmath>

namespace tf_motion {

constexpr char kParent[] = "map";
// Swings and settles once every kCycle seconds from the epoch given to the publisher.
constexpr char kSettling[] = "settling_tool";
// Never settles: a steady swing of kWobble metres.
constexpr char kWobbling[] = "wobbling_tool";
// At rest, published for the first kStaleOn seconds of every kStalePeriod from the epoch and
// then not at all: a transform that stops updating.
constexpr char kStale[] = "stale_tool";
// On /tf_static.
constexpr char kStatic[] = "camera_mount";

constexpr double kRate = 100.0;           // Hz, for every moving frame
constexpr double kCycle = 4.0;            // s
constexpr double kAmplitude = 0.08;       // m, along x (half of it along y)
constexpr double kAngleAmplitude = 0.15;  // rad, about z
constexpr double kDecay = 0.2;            // s, time constant of the swing's envelope
constexpr double kFrequency = 2.0;        // Hz
constexpr double kNoise = 0.0005;         // m and rad: uniform noise of +-kNoise on every sample
constexpr double kWobble = 0.02;          // m
constexpr double kStalePeriod = 1.5;      // s
constexpr double kStaleOn = 0.3;          // s

constexpr double kRestX = 0.4, kRestY = -0.2, kRestZ = 0.9;  // m
constexpr double kRestAngle = 0.5;                           // rad about z
constexpr double kStaticX = 0.1, kStaticY = 0.2, kStaticZ = 0.3;
constexpr double kStaticAngle = 1.5707963267948966;  // rad about z

// The swing, `phase` seconds into a cycle, as a fraction of its amplitudes.
inline double swing(double phase) {
  return std::exp(-phase / kDecay) * std::sin(2.0 * M_PI * kFrequency * phase);
}

// Seconds into a cycle after which the swing is smaller than the noise.
inline double settledAfter() {
  return kDecay * std::log(std::max(kAmplitude, kAngleAmplitude) / kNoise);
}

}  // namespace tf_motion

#endif  // VANTOREL_BASE_UTILS_NODES_TEST__TF_MOTION_HPP_
