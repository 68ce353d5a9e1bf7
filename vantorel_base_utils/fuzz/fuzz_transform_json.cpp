// SPDX-License-Identifier: Apache-2.0
// Arbitrary text as a transform JSON document. Refusals are the JSON library's exceptions;
// an accepted document with a finite quaternion gives the rotation of that quaternion, also
// for huge or tiny components, and survives the trip through toTransformJson and back.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <Eigen/LU>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vbu = vantorel_base_utils;

namespace {

constexpr double kTolerance = 1e-9;

template <std::size_t N>
std::array<double, N> numbers(const nlohmann::json& array) {
  std::array<double, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    out[i] = array[i].get<double>();
  }
  return out;
}

template <std::size_t N>
bool allFinite(const std::array<double, N>& values) {
  for (const double v : values) {
    if (!std::isfinite(v)) {
      return false;
    }
  }
  return true;
}

// The rotation of q (w, x, y, z), scaled first so that neither huge nor tiny components
// lose their direction in the norm.
Eigen::Matrix3d rotationOf(const std::array<double, 4>& q) {
  const double largest =
      std::max({std::fabs(q[0]), std::fabs(q[1]), std::fabs(q[2]), std::fabs(q[3])});
  if (largest == 0.0) {
    return Eigen::Matrix3d::Identity();
  }
  return Eigen::Quaterniond(q[0] / largest, q[1] / largest, q[2] / largest, q[3] / largest)
      .normalized()
      .toRotationMatrix();
}

void checkRigid(const Eigen::Matrix4d& m) {
  const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
  VANTOREL_FUZZ_CHECK((r.transpose() * r - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() <
                      kTolerance);
  VANTOREL_FUZZ_CHECK(std::fabs(r.determinant() - 1.0) < kTolerance);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json document = nlohmann::json::parse(data, data + size, nullptr, false);
  if (document.is_discarded()) {
    return 0;
  }
  Eigen::Matrix4d m;
  try {
    m = vbu::toEigenTransform(document);
  } catch (const nlohmann::json::exception&) {
    return 0;  // the documented refusal; anything else escapes and fails the run
  }
  VANTOREL_FUZZ_CHECK(m.row(3) == Eigen::RowVector4d(0.0, 0.0, 0.0, 1.0));
  const auto t = numbers<3>(document.at("translation"));
  const auto q = numbers<4>(document.at("rotation"));
  VANTOREL_FUZZ_CHECK(m(0, 3) == t[0] && m(1, 3) == t[1] && m(2, 3) == t[2]);
  if (!allFinite(q)) {
    return 0;
  }
  checkRigid(m);
  VANTOREL_FUZZ_CHECK((m.topLeftCorner<3, 3>() - rotationOf(q)).cwiseAbs().maxCoeff() < kTolerance);
  if (allFinite(t)) {
    const Eigen::Matrix4d again = vbu::toEigenTransform(vbu::toTransformJson(m));
    VANTOREL_FUZZ_CHECK((again - m).cwiseAbs().maxCoeff() <=
                        kTolerance * std::max(1.0, m.cwiseAbs().maxCoeff()));
  }
  return 0;
}
