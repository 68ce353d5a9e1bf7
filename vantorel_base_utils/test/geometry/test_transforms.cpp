// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;

namespace {

void expectRotationDiagonal(const Eigen::Matrix4d& m, double a, double b, double c) {
  EXPECT_NEAR(m(0, 0), a, 1e-15);
  EXPECT_NEAR(m(1, 1), b, 1e-15);
  EXPECT_NEAR(m(2, 2), c, 1e-15);
  const double frobenius = m.topLeftCorner<3, 3>().norm();
  EXPECT_NEAR(frobenius, std::sqrt(3.0), 1e-15);
}

template <typename Exception>
std::string whatOf(const json& j) {
  return vantorel_test::errorText<Exception>([&] { vbu::toEigenTransform(j); });
}

}  // namespace

TEST(TransformJson, ReadsNumbersOfAnyKindAndNormalisesTheQuaternion) {
  const Eigen::Matrix4d m =
      vbu::toEigenTransform(json::parse(R"({"translation":[1,2,3],"rotation":[1,0,0,0]})"));
  Eigen::Matrix4d expected = Eigen::Matrix4d::Identity();
  expected.col(3) << 1, 2, 3, 1;
  EXPECT_EQ(m, expected);

  const json unsigned_and_float = {{"translation", {1u, -2, 0.5}}, {"rotation", {2.0, 0, 0, 0}}};
  expectRotationDiagonal(vbu::toEigenTransform(unsigned_and_float), 1, 1, 1);
  EXPECT_EQ(vbu::toEigenTransform(unsigned_and_float)(1, 3), -2.0);

  expectRotationDiagonal(
      vbu::toEigenTransform(json::parse(R"({"translation":[0,0,0],"rotation":[0,0,0,0]})")), 1, 1,
      1);
  expectRotationDiagonal(
      vbu::toEigenTransform(json::parse(R"({"translation":[0,0,0],"rotation":[0,0,0,1]})")), -1, -1,
      1);
  // Extra elements and extra keys are ignored.
  expectRotationDiagonal(vbu::toEigenTransform(json::parse(
                             R"({"translation":[0,0,0,7],"rotation":[1,0,0,0,9],"x":1})")),
                         1, 1, 1);
}

// Squaring components near the ends of the double range overflows or underflows; such
// quaternions once came out as the identity instead of their rotation.
TEST(TransformJson, NormalisesHugeAndTinyQuaternionsByDirection) {
  for (const double scale : {1e200, 1e-200, 1e-310}) {
    const json half_turn_x = {{"translation", {0, 0, 0}}, {"rotation", {0.0, scale, 0.0, 0.0}}};
    expectRotationDiagonal(vbu::toEigenTransform(half_turn_x), 1, -1, -1);
    const json quarter_turn_z = {{"translation", {0, 0, 0}},
                                 {"rotation", {scale, 0.0, 0.0, scale}}};
    const Eigen::Matrix4d m = vbu::toEigenTransform(quarter_turn_z);
    EXPECT_NEAR(m(0, 1), -1.0, 1e-15) << scale;
    EXPECT_NEAR(m(1, 0), 1.0, 1e-15) << scale;
    EXPECT_NEAR(m(2, 2), 1.0, 1e-15) << scale;
  }
  // A non-finite quaternion has no direction; it must not come out as some finite rotation.
  for (const double bad : {INFINITY, -INFINITY, NAN}) {
    for (std::size_t i = 0; i < 4; ++i) {
      json q = {{"translation", {0, 0, 0}}, {"rotation", {1e-300, 1e300, 0.0, 0.0}}};
      q["rotation"][i] = bad;
      const Eigen::Matrix3d rotation = vbu::toEigenTransform(q).topLeftCorner<3, 3>();
      EXPECT_FALSE(rotation.allFinite()) << bad << " at " << i;
    }
  }
}

TEST(TransformJson, PassesTheJsonLibraryExceptionsThrough) {
  // The library's own wording is its business; the missing key is named all the same.
  EXPECT_NE(
      whatOf<json::out_of_range>(json::parse(R"({"rotation":[1,0,0,0]})")).find("translation"),
      std::string::npos);
  EXPECT_THROW(vbu::toEigenTransform(json::parse(R"({"translation":[0,0,0],"rotation":[1,0,0]})")),
               json::out_of_range);
  EXPECT_NE(
      whatOf<json::type_error>(json::parse(R"({"translation":[0,"a",0],"rotation":[1,0,0,0]})"))
          .find("type must be number, but is string"),
      std::string::npos);
  EXPECT_NE(whatOf<json::type_error>(json::parse(R"({"translation":{"x":0},"rotation":[1,0,0,0]})"))
                .find("type must be array, but is object"),
            std::string::npos);
  EXPECT_NE(
      whatOf<json::type_error>(json::parse(R"({"translation":[0,0,0],"rotation":[true,0,0,0]})"))
          .find("type must be number, but is boolean"),
      std::string::npos);
  EXPECT_THROW(vbu::toEigenTransform(json::array({1, 2})), json::type_error);
}

TEST(TransformJson, WritesRotationFirstAndRoundTrips) {
  EXPECT_EQ(vbu::toTransformJson(Eigen::Matrix4d::Identity()).dump(),
            R"({"rotation":[1.0,0.0,0.0,0.0],"translation":[0.0,0.0,0.0]})");

  const json half_turn = vbu::toTransformJson(Eigen::Vector4d(-1, -1, 1, 1).asDiagonal());
  EXPECT_EQ(half_turn["rotation"], json::parse("[0.0,0.0,0.0,1.0]"));

  const Eigen::Matrix4d rigid = vbu::toEigenTransform(
      json{{"translation", {0.3, -1.2, 2.5}}, {"rotation", {0.9, 0.1, -0.3, 0.2}}});
  Eigen::Matrix4d skewed = rigid;
  skewed.row(3) << 5, 6, 7, 8;  // the bottom row is not part of the document
  const Eigen::Matrix4d back = vbu::toEigenTransform(vbu::toTransformJson(skewed));
  EXPECT_TRUE(back.isApprox(rigid, 1e-14));
  EXPECT_EQ(back.row(3), Eigen::RowVector4d(0, 0, 0, 1));
}

TEST(TransformMessages, ConvertLikeTheJsonDocument) {
  geometry_msgs::msg::TransformStamped stamped;
  stamped.header.frame_id = "map";
  stamped.transform.translation.x = 1.0;
  stamped.transform.translation.z = -4.0;
  stamped.transform.rotation.w = 0.5;
  stamped.transform.rotation.x = 0.5;
  stamped.transform.rotation.y = -0.5;
  stamped.transform.rotation.z = 0.5;

  const Eigen::Matrix4d from_message = vbu::toEigenTransform(stamped);
  EXPECT_EQ(from_message, vbu::toEigenTransform(stamped.transform));
  EXPECT_EQ(from_message, vbu::toEigenTransform(json{{"translation", {1.0, 0.0, -4.0}},
                                                     {"rotation", {0.5, 0.5, -0.5, 0.5}}}));

  const geometry_msgs::msg::Transform back = vbu::toGeometryTransform(from_message);
  EXPECT_NEAR(back.rotation.w, 0.5, 1e-15);
  EXPECT_NEAR(back.rotation.x, 0.5, 1e-15);
  EXPECT_NEAR(back.rotation.y, -0.5, 1e-15);
  EXPECT_NEAR(back.rotation.z, 0.5, 1e-15);
  EXPECT_EQ(back.translation.z, -4.0);

  Eigen::Matrix4d odd = Eigen::Matrix4d::Identity();
  odd(3, 0) = 3.0;
  EXPECT_EQ(vbu::toEigenTransform(odd), odd);  // matrices are copied, not repaired
}

TEST(RotateByQuat, QuarterTurnAboutZ) {
  const double h = std::sqrt(0.5);
  const auto r = vbu::rotateByQuat({1.0, 0.0, 0.0}, 0.0, 0.0, h, h);
  EXPECT_NEAR(r[0], 0.0, 1e-15);
  EXPECT_NEAR(r[1], 1.0, 1e-15);
  EXPECT_NEAR(r[2], 0.0, 1e-15);

  // Agrees with the matrix built from the same quaternion.
  const Eigen::Matrix4d m =
      vbu::toEigenTransform(json{{"translation", {0, 0, 0}}, {"rotation", {0.9, 0.1, -0.3, 0.2}}});
  const double n = std::sqrt(0.81 + 0.01 + 0.09 + 0.04);
  const auto v = vbu::rotateByQuat({0.2, -1.0, 3.0}, 0.1 / n, -0.3 / n, 0.2 / n, 0.9 / n);
  const Eigen::Vector3d expected = m.topLeftCorner<3, 3>() * Eigen::Vector3d(0.2, -1.0, 3.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(v[static_cast<std::size_t>(i)], expected[i], 1e-14);
  }
}
