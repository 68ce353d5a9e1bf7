// SPDX-License-Identifier: Apache-2.0
// Rigid transforms between JSON documents, messages and 4x4 matrices; quaternion rotation.
#include "vantorel_base_utils/transforms.hpp"

#include <array>
#include <string>

#include <Eigen/Geometry>

#include "geometry/vector_norm.hpp"

namespace vantorel_base_utils {

namespace {

// The one construction every reader reduces to.
// A zero quaternion stays zero and gives the identity; a non-finite one propagates.
Eigen::Matrix4d matrixFromTranslationQuaternion(double tx, double ty, double tz, double qw,
                                                double qx, double qy, double qz) {
  std::array<double, 4> q = {qz, qx, qw, qy};  // the order the squared norm is summed in
  normaliseInPlace(q);
  const double z = q[0];
  const double x = q[1];
  const double w = q[2];
  const double y = q[3];
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m(0, 0) = 1.0 - 2.0 * (y * y + z * z);
  m(0, 1) = 2.0 * (x * y - w * z);
  m(0, 2) = 2.0 * (x * z + w * y);
  m(1, 0) = 2.0 * (x * y + w * z);
  m(1, 1) = 1.0 - 2.0 * (x * x + z * z);
  m(1, 2) = 2.0 * (y * z - w * x);
  m(2, 0) = 2.0 * (x * z - w * y);
  m(2, 1) = 2.0 * (y * z + w * x);
  m(2, 2) = 1.0 - 2.0 * (x * x + y * y);
  m(0, 3) = tx;
  m(1, 3) = ty;
  m(2, 3) = tz;
  return m;
}

// Reads `count` numbers from the array under `key`, reporting problems through the JSON
// library's own exception types and texts.
template <std::size_t N>
std::array<double, N> readNumberArray(const nlohmann::json& j, const char* key) {
  const nlohmann::json& value = j.at(key);
  if (!value.is_array()) {
    throw nlohmann::json::type_error::create(
        302, std::string("type must be array, but is ") + value.type_name(), &value);
  }
  std::array<double, N> numbers{};
  for (std::size_t i = 0; i < N; ++i) {
    numbers[i] = value.at(i).template get<double>();
  }
  return numbers;
}

Eigen::Quaterniond quaternionOf(const Eigen::Matrix4d& m) {
  return Eigen::Quaterniond(Eigen::Matrix3d(m.topLeftCorner<3, 3>()));
}

}  // namespace

Eigen::Matrix4d toEigenTransform(const nlohmann::json& j) {
  const auto t = readNumberArray<3>(j, "translation");
  const auto q = readNumberArray<4>(j, "rotation");
  return matrixFromTranslationQuaternion(t[0], t[1], t[2], q[0], q[1], q[2], q[3]);
}

Eigen::Matrix4d toEigenTransform(const geometry_msgs::msg::Transform& t) {
  const auto& v = t.translation;
  const auto& q = t.rotation;
  return matrixFromTranslationQuaternion(v.x, v.y, v.z, q.w, q.x, q.y, q.z);
}

Eigen::Matrix4d toEigenTransform(const geometry_msgs::msg::TransformStamped& t) {
  return toEigenTransform(t.transform);
}

Eigen::Matrix4d toEigenTransform(const Eigen::Matrix4d& m) {
  return m;
}

geometry_msgs::msg::Transform toGeometryTransform(const Eigen::Matrix4d& m) {
  const Eigen::Quaterniond q = quaternionOf(m);
  geometry_msgs::msg::Transform t;
  t.translation.x = m(0, 3);
  t.translation.y = m(1, 3);
  t.translation.z = m(2, 3);
  t.rotation.x = q.x();
  t.rotation.y = q.y();
  t.rotation.z = q.z();
  t.rotation.w = q.w();
  return t;
}

nlohmann::json toTransformJson(const Eigen::Matrix4d& m) {
  const Eigen::Quaterniond q = quaternionOf(m);
  return nlohmann::json{{"translation", {m(0, 3), m(1, 3), m(2, 3)}},
                        {"rotation", {q.w(), q.x(), q.y(), q.z()}}};
}

std::array<double, 3> rotateByQuat(const std::array<double, 3>& v, double qx, double qy, double qz,
                                   double qw) {
  const double ux = qy * v[2] - qz * v[1];
  const double uy = qz * v[0] - qx * v[2];
  const double uz = qx * v[1] - qy * v[0];
  return {v[0] + 2.0 * (qw * ux + (qy * uz - qz * uy)),
          v[1] + 2.0 * (qw * uy + (qz * ux - qx * uz)),
          v[2] + 2.0 * (qw * uz + (qx * uy - qy * ux))};
}

}  // namespace vantorel_base_utils
