// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <Eigen/Geometry>

#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/point_cloud.hpp"

namespace vbu = vantorel_base_utils;
using sensor_msgs::msg::PointCloud2;
using sensor_msgs::msg::PointField;
using vantorel_test::runtimeErrorText;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

constexpr int kCols = 37;  // not a multiple of any vector width: the loops' tails run too
constexpr int kRows = 6;
constexpr vbu::CloudFrame kFrames[] = {vbu::CloudFrame::Camera, vbu::CloudFrame::ArmBase,
                                       vbu::CloudFrame::Map};

// The value of field `name` of point `index`, found through the cloud's own description:
// the field's offset and datatype, the point step and the byte order.
template <typename T>
T fieldValue(const PointCloud2& cloud, std::size_t index, const std::string& name) {
  static_assert(std::is_same_v<T, float> || std::is_same_v<T, std::uint32_t>);
  const std::uint8_t datatype = std::is_same_v<T, float> ? PointField::FLOAT32 : PointField::UINT32;
  for (const PointField& field : cloud.fields) {
    if (field.name != name) {
      continue;
    }
    const std::size_t at = index * cloud.point_step + field.offset;
    if (field.datatype != datatype || field.count != 1 ||
        field.offset + sizeof(T) > cloud.point_step || at + sizeof(T) > cloud.data.size() ||
        cloud.is_bigendian != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)) {
      ADD_FAILURE() << "field " << name << " cannot be read as described";
      return T{};
    }
    T value;
    std::memcpy(&value, cloud.data.data() + at, sizeof(T));
    return value;
  }
  ADD_FAILURE() << "no field " << name;
  return T{};
}

vbu::ProjectedPoint pointAt(const PointCloud2& cloud, std::size_t index) {
  return {fieldValue<float>(cloud, index, "x"), fieldValue<float>(cloud, index, "y"),
          fieldValue<float>(cloud, index, "z")};
}

// Exactly the same floats (a NaN matches a NaN).
void expectSamePoint(const vbu::ProjectedPoint& actual, const vbu::ProjectedPoint& expected) {
  const auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof(float)) == 0; };
  EXPECT_TRUE(same(actual.x, expected.x) && same(actual.y, expected.y) &&
              same(actual.z, expected.z))
      << "(" << actual.x << ", " << actual.y << ", " << actual.z << ") where (" << expected.x
      << ", " << expected.y << ", " << expected.z << ") was expected";
}

void expectConsistentSizes(const PointCloud2& cloud) {
  EXPECT_EQ(cloud.row_step, cloud.point_step * cloud.width);
  EXPECT_EQ(cloud.data.size(), std::size_t{cloud.row_step} * cloud.height);
}

std_msgs::msg::Header header(const char* frame_id) {
  std_msgs::msg::Header h;
  h.frame_id = frame_id;
  h.stamp.sec = 1305031102;
  h.stamp.nanosec = 160407000;
  return h;
}

Eigen::Matrix4d rigid(const Eigen::Vector3d& axis, double angle, const Eigen::Vector3d& t) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
  m.topRightCorner<3, 1>() = t;
  return m;
}

// Raw depths 300 to 4000 are kept; the image also holds zeros, values just outside the window
// and, as floats, NaN, infinities and negative depths.
cv::Mat depthImage(int type) {
  cv::Mat depth(kRows, kCols, type);
  const float no_depth[] = {0.0f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(), -1.0f};
  for (int v = 0; v < kRows; ++v) {
    for (int u = 0; u < kCols; ++u) {
      int raw = 300 + 97 * u + 31 * v;
      raw = (u * v) % 11 == 3 ? 4001 : (u + v) % 9 == 4 ? 299 : raw;
      if (type == CV_16UC1) {
        depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>((u + 2 * v) % 7 == 0 ? 0 : raw);
      } else {
        depth.at<float>(v, u) =
            (u + 2 * v) % 7 == 0 ? no_depth[(u + v) % 4] : static_cast<float>(raw * 0.001);
      }
    }
  }
  return depth;
}

vbu::ProjectionContext context(int type, const Eigen::Matrix4d& camera_to_arm_base,
                               const Eigen::Matrix4d& arm_base_to_map) {
  vbu::CameraModel model;
  model.fx = 525;
  model.fy = 521;
  model.cx = 18.5;
  model.cy = 2.25;
  vbu::DepthOptions options;
  options.min_depth = 300;
  options.max_depth = 4000;
  return vbu::createProjectionContext(depthImage(type), model,
                                      Eigen::Isometry3d(camera_to_arm_base),
                                      Eigen::Isometry3d(arm_base_to_map), options);
}

vbu::ProjectionContext movedContext(int type) {
  return context(type, rigid({0.3, -0.5, 0.8}, 0.7, {0.1, -0.2, 0.3}),
                 rigid({0, 0, 1}, 1.2, {2.0, -1.0, 0.5}));
}

// The same context over a depth image whose rows lie farther apart than its width, as the
// rows of a region of a larger image do.
vbu::ProjectionContext stridedCopy(const vbu::ProjectionContext& ctx) {
  vbu::ProjectionContext strided = ctx;
  const cv::Mat wider(ctx.depth.rows, ctx.depth.cols + 5, ctx.depth.type(), cv::Scalar(0));
  strided.depth = wider.colRange(2, 2 + ctx.depth.cols);
  ctx.depth.copyTo(strided.depth);
  return strided;
}

// The pixels' points in `frame` as the pixel-list projections give them: the camera frame
// through a context that differs only in having identity transforms.
std::vector<vbu::ProjectedPoint> projected(const vbu::ProjectionContext& ctx, vbu::CloudFrame frame,
                                           const Pixels& pixels) {
  if (frame == vbu::CloudFrame::Camera) {
    vbu::ProjectionContext camera = ctx;
    camera.camera_to_arm_base.setIdentity();
    camera.camera_to_map.setIdentity();
    return vbu::projectImagePointsToMap(camera, pixels);
  }
  return frame == vbu::CloudFrame::ArmBase ? vbu::projectImagePointsToArmBase(ctx, pixels)
                                           : vbu::projectImagePointsToMap(ctx, pixels);
}

}  // namespace

TEST(PointCloud2FromPoints, HoldsThePointsInOrderUnderTheGivenHeader) {
  const std::vector<vbu::ProjectedPoint> points = {{1.5f, -2.0f, 3.25f}, {-4.0f, 5.5f, 1e-7f}};
  const PointCloud2 cloud = vbu::pointCloud2FromPoints(points, header("map"));
  EXPECT_EQ(cloud.header, header("map"));
  EXPECT_EQ(cloud.height, 1u);
  ASSERT_EQ(cloud.width, 2u);
  EXPECT_TRUE(cloud.is_dense);
  expectConsistentSizes(cloud);
  for (std::size_t i = 0; i < points.size(); ++i) {
    expectSamePoint(pointAt(cloud, i), points[i]);
  }
  const PointCloud2 empty = vbu::pointCloud2FromPoints({}, header("map"));
  EXPECT_EQ(empty.width, 0u);
  EXPECT_EQ(empty.fields.size(), 3u);
  expectConsistentSizes(empty);
}

// For 16-bit and float depth and each frame: the cloud is the image's grid, a pixel with depth
// in the window holds the point its pixel list gives, every other pixel NaN.
TEST(OrganizedPointCloud2, PixelsWithDepthLandWhereTheirPixelListPutsThemTheRestAreNaN) {
  const vbu::ProjectedPoint nan_point(NAN, NAN, NAN);
  for (const int type : {CV_16UC1, CV_32FC1}) {
    for (const vbu::ProjectionContext& ctx :
         {movedContext(type), stridedCopy(movedContext(type))}) {
      for (const vbu::CloudFrame frame : kFrames) {
        SCOPED_TRACE("depth type " + std::to_string(type) + ", continuous " +
                     std::to_string(ctx.depth.isContinuous()) + ", frame " +
                     std::to_string(static_cast<int>(frame)));
        const PointCloud2 cloud = vbu::organizedPointCloud2(ctx, frame, header("frame"));
        EXPECT_EQ(cloud.header, header("frame"));
        ASSERT_EQ(cloud.height, static_cast<std::uint32_t>(kRows));
        ASSERT_EQ(cloud.width, static_cast<std::uint32_t>(kCols));
        EXPECT_FALSE(cloud.is_dense);
        expectConsistentSizes(cloud);
        std::size_t with_depth = 0;
        for (int v = 0; v < kRows; ++v) {
          for (int u = 0; u < kCols; ++u) {
            const auto expected = projected(ctx, frame, {{u, v}});
            with_depth += expected.size();
            expectSamePoint(pointAt(cloud, static_cast<std::size_t>(v * kCols + u)),
                            expected.empty() ? nan_point : expected[0]);
          }
        }
        // Both kinds of pixel occur.
        EXPECT_GT(with_depth, std::size_t{kCols * kRows / 2});
        EXPECT_LT(with_depth, std::size_t{kCols * kRows});
      }
    }
  }
}

// Instance k (from 1) is the k-th instance array of instancePixelMapToJson: class keys in
// ascending text order, so "10" comes before "2".
TEST(InstancePointCloud2, LabelsEachPointWithItsClassAndTheInstanceNumberOfTheJson) {
  const vbu::ProjectionContext ctx = movedContext(CV_16UC1);
  const vbu::yolo_mask_parser::InstancePixelMap pixel_map = {
      {"2", {{{3, 1}, {4, 1}, {1, 0}}, {{30, 5}}}},
      {"10", {{{0, 0}}, {{5, 2}, {6, 2}}}},  // the first instance has no depth
      {"0", {{{36, 5}, {-1, 2}}}},
  };
  ASSERT_TRUE(projected(ctx, vbu::CloudFrame::Map, {{0, 0}}).empty());
  const nlohmann::json json = vbu::yolo_mask_parser::instancePixelMapToJson(pixel_map);
  for (const vbu::CloudFrame frame : kFrames) {
    SCOPED_TRACE("frame " + std::to_string(static_cast<int>(frame)));
    const PointCloud2 cloud = vbu::instancePointCloud2(ctx, pixel_map, frame, header("base"));
    EXPECT_EQ(cloud.header, header("base"));
    EXPECT_TRUE(cloud.is_dense);
    EXPECT_EQ(cloud.height, 1u);
    expectConsistentSizes(cloud);
    std::size_t index = 0;
    std::uint32_t instance_id = 0;
    for (const auto& [key, instances] : json.items()) {
      for (const auto& instance : instances["dirts"]) {
        ++instance_id;
        for (const vbu::ProjectedPoint& expected : projected(ctx, frame, instance.get<Pixels>())) {
          ASSERT_LT(index, cloud.width);
          expectSamePoint(pointAt(cloud, index), expected);
          EXPECT_EQ(fieldValue<std::uint32_t>(cloud, index, "class_id"), std::stoul(key));
          EXPECT_EQ(fieldValue<std::uint32_t>(cloud, index, "instance_id"), instance_id);
          ++index;
        }
      }
    }
    EXPECT_EQ(instance_id, 5u);
    EXPECT_EQ(index, cloud.width);
  }
}

// Keys that are not the text of one class id would make two classes share a number ("03" and
// "3") or wrap a negative id into a large one.
TEST(PointCloudRefusals, AnInvalidContextOrAKeyThatIsNoClassId) {
  const vbu::ProjectionContext ctx = movedContext(CV_16UC1);
  for (const char* key : {"-1", "03", "+3", " 3", "3 ", "x", "", "2147483648", "4294967297"}) {
    EXPECT_EQ(
        runtimeErrorText([&] {
          vbu::instancePointCloud2(ctx, {{key, {{{1, 1}}}}}, vbu::CloudFrame::Map, header(""));
        }),
        std::string("instance pixel map key \"") + key +
            "\" is not a class id from 0 to 2147483647");
  }
  const PointCloud2 largest =
      vbu::instancePointCloud2(ctx, {{"2147483647", {{{1, 1}}}}}, vbu::CloudFrame::Map, header(""));
  ASSERT_EQ(largest.width, 1u);
  EXPECT_EQ(fieldValue<std::uint32_t>(largest, 0, "class_id"), 2147483647u);

  vbu::ProjectionContext broken = ctx;
  broken.camera_to_arm_base(0, 3) = NAN;
  for (const vbu::ProjectionContext& invalid : {vbu::ProjectionContext{}, broken}) {
    for (const vbu::CloudFrame frame : {vbu::CloudFrame::ArmBase, vbu::CloudFrame::Map}) {
      EXPECT_EQ(runtimeErrorText([&] { vbu::organizedPointCloud2(invalid, frame, header("")); }),
                "ProjectionContext is invalid");
      EXPECT_EQ(runtimeErrorText([&] { vbu::instancePointCloud2(invalid, {}, frame, header("")); }),
                "ProjectionContext is invalid");
    }
  }
  EXPECT_EQ(runtimeErrorText([&] {
              vbu::organizedPointCloud2(vbu::ProjectionContext{}, vbu::CloudFrame::Camera,
                                        header(""));
            }),
            "ProjectionContext is invalid");
}
