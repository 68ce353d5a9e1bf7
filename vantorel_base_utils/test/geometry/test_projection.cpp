// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <Eigen/Geometry>

#include "geometry/projection_kernel.hpp"
#include "support/runtime_error_text.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"

namespace vbu = vantorel_base_utils;
using nlohmann::json;
using vantorel_test::runtimeErrorText;
using Pixels = std::vector<std::array<int, 2>>;

namespace {

constexpr int kCols = 1000;
constexpr int kRows = 500;

Eigen::Matrix4d translation(double x, double y, double z) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.col(3) << x, y, z, 1;
  return m;
}

// fx = fy = 500, principal point (320, 240), depth 1000 everywhere unless set.
vbu::ProjectionContext context(int min_depth = 1, int max_depth = 10000,
                               const Eigen::Matrix4d& camera_to_arm_base = translation(0, 0, 0),
                               const Eigen::Matrix4d& arm_base_to_map = translation(0, 0, 0)) {
  vbu::CameraModel model;
  model.fx = 500;
  model.fy = 500;
  model.cx = 320;
  model.cy = 240;
  const cv::Mat depth(kRows, kCols, CV_16UC1, cv::Scalar(1000));
  return vbu::createProjectionContext(depth, model, camera_to_arm_base, arm_base_to_map, min_depth,
                                      max_depth, rclcpp::get_logger("test_projection"));
}

void setDepth(vbu::ProjectionContext& ctx, int u, int v, int depth) {
  ctx.depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(depth);
}

void expectPoint(const vbu::ProjectedPoint& p, float x, float y, float z) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_FLOAT_EQ(p.z, z);
}

// The depth in metres the formula starts from, or nothing for a pixel without depth in the
// window: 16-bit values are depth units, floats metres that must be finite and positive.
std::optional<double> metresAt(const vbu::ProjectionContext& ctx, int u, int v) {
  if (ctx.depth.type() == CV_32FC1) {
    const float z = ctx.depth.at<float>(v, u);
    const bool kept = std::isfinite(z) && z > 0 && z >= ctx.min_depth * ctx.depth_scale &&
                      z <= ctx.max_depth * ctx.depth_scale;
    return kept ? std::optional<double>(z) : std::nullopt;
  }
  const int d = ctx.depth.at<std::uint16_t>(v, u);
  const bool kept = d >= ctx.min_depth && d <= ctx.max_depth;
  return kept ? std::optional<double>(d * ctx.depth_scale) : std::nullopt;
}

// The formula as written down, in double precision, one pixel at a time.
std::vector<vbu::ProjectedPoint> referenceProjection(const vbu::ProjectionContext& ctx,
                                                     const Pixels& pixels,
                                                     const Eigen::Matrix4d& t) {
  std::vector<vbu::ProjectedPoint> points;
  for (const auto& [u, v] : pixels) {
    if (u < 0 || u >= ctx.depth.cols || v < 0 || v >= ctx.depth.rows) {
      continue;
    }
    const std::optional<double> metres = metresAt(ctx, u, v);
    if (!metres) {
      continue;
    }
    const double z = *metres;
    const double x = (u - ctx.cx) * z / ctx.fx;
    const double y = (v - ctx.cy) * z / ctx.fy;
    points.push_back({static_cast<float>(t(0, 0) * x + t(0, 1) * y + t(0, 2) * z + t(0, 3)),
                      static_cast<float>(t(1, 0) * x + t(1, 1) * y + t(1, 2) * z + t(1, 3)),
                      static_cast<float>(t(2, 0) * x + t(2, 1) * y + t(2, 2) * z + t(2, 3))});
  }
  return points;
}

// The loop that CPUs without the wide instructions run.
std::vector<vbu::ProjectedPoint> portableProjection(const vbu::ProjectionContext& ctx,
                                                    const Pixels& pixels,
                                                    const Eigen::Matrix4d& t) {
  namespace kernel = vbu::projection_kernel;
  if (ctx.depth.type() == CV_32FC1) {
    return kernel::projectPixels(
        kernel::metricDepthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth, ctx.depth_scale),
        kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, 1.0, t), pixels,
        kernel::portableProjector<float>());
  }
  return kernel::projectPixels(kernel::depthViewOf(ctx.depth, ctx.min_depth, ctx.max_depth),
                               kernel::liftFor(ctx.fx, ctx.fy, ctx.cx, ctx.cy, ctx.depth_scale, t),
                               pixels, kernel::portableProjector<std::uint16_t>());
}

bool withinOneUlpOrNanometre(float actual, float expected) {
  const float ulp = std::nextafter(std::fabs(expected), INFINITY) - std::fabs(expected);
  return std::fabs(static_cast<double>(actual) - expected) <= std::max<double>(ulp, 1e-9);
}

void expectSamePoints(const std::vector<vbu::ProjectedPoint>& fast,
                      const std::vector<vbu::ProjectedPoint>& reference) {
  ASSERT_EQ(fast.size(), reference.size());
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < fast.size(); ++i) {
    mismatches += !withinOneUlpOrNanometre(fast[i].x, reference[i].x) ||
                  !withinOneUlpOrNanometre(fast[i].y, reference[i].y) ||
                  !withinOneUlpOrNanometre(fast[i].z, reference[i].z);
  }
  EXPECT_EQ(mismatches, 0u);
}

Pixels wholeFrame(const vbu::ProjectionContext& ctx) {
  Pixels pixels;
  for (int v = 0; v < ctx.depth.rows; ++v) {
    for (int u = 0; u < ctx.depth.cols; ++u) {
      pixels.push_back({u, v});
    }
  }
  return pixels;
}

}  // namespace

TEST(ProjectPixels, BackProjectsThroughThePinholeAndTheChosenTransform) {
  vbu::ProjectionContext ctx = context(1, 10000, translation(0.1, 0, 0.5), translation(0, 2, 0));
  setDepth(ctx, 820, 240, 2000);
  const Pixels pixels = {{320, 240}, {820, 240}};

  const auto arm = vbu::projectImagePointsToArmBase(ctx, pixels);
  ASSERT_EQ(arm.size(), 2u);
  expectPoint(arm[0], 0.1f, 0, 1.5f);
  expectPoint(arm[1], 2.1f, 0, 2.5f);
  const auto map = vbu::projectImagePointsToMap(ctx, pixels);
  ASSERT_EQ(map.size(), 2u);
  expectPoint(map[0], 0.1f, 2, 1.5f);
  expectPoint(map[1], 2.1f, 2, 2.5f);

  // Rows below the principal point have positive y.
  setDepth(ctx, 320, 490, 500);
  expectPoint(vbu::projectImagePointsToArmBase(ctx, {{320, 490}}).at(0), 0.1f, 0.25f, 1.0f);

  const std::vector<std::pair<int, int>> pairs = {{320, 240}, {820, 240}, {-1, 0}};
  const auto from_pairs = vbu::projectPixelPairsToMap(ctx, pairs);
  ASSERT_EQ(from_pairs.size(), 2u);
  expectPoint(from_pairs[1], 2.1f, 2, 2.5f);
  EXPECT_EQ(vbu::projectPixelPairsToArmBase(ctx, pairs).size(), 2u);
}

TEST(ProjectPixels, DropsPixelsOffTheImageOrOutsideTheDepthWindowAndKeepsOrder) {
  vbu::ProjectionContext ctx = context(500, 1500);
  const Pixels off_image = {{-1, 0},         {kCols, 0},     {0, kRows},   {0, -1},
                            {INT_MIN, 0},    {INT_MAX, 0},   {0, INT_MAX}, {INT_MAX, INT_MAX},
                            {kCols - 1, -1}, {-1, kRows - 1}};
  EXPECT_TRUE(vbu::projectImagePointsToMap(ctx, off_image).empty());
  // The first and last pixels of the buffer, alone and amid a run.
  setDepth(ctx, 0, 0, 777);
  setDepth(ctx, kCols - 1, kRows - 1, 1234);
  const auto corners = vbu::projectImagePointsToMap(ctx, {{0, 0}, {kCols - 1, kRows - 1}});
  ASSERT_EQ(corners.size(), 2u);
  EXPECT_FLOAT_EQ(corners[0].z, 0.777f);
  EXPECT_FLOAT_EQ(corners[1].z, 1.234f);
  Pixels last_row;
  for (int u = kCols - 20; u < kCols; ++u) {
    last_row.push_back({u, kRows - 1});
  }
  EXPECT_FLOAT_EQ(vbu::projectImagePointsToMap(ctx, last_row).back().z, 1.234f);

  setDepth(ctx, 1, 1, 500);
  setDepth(ctx, 2, 1, 1500);
  setDepth(ctx, 3, 1, 499);
  setDepth(ctx, 4, 1, 1501);
  const auto window = vbu::projectImagePointsToArmBase(ctx, {{1, 1}, {2, 1}, {3, 1}, {4, 1}});
  ASSERT_EQ(window.size(), 2u);
  EXPECT_FLOAT_EQ(window[0].z, 0.5f);
  EXPECT_FLOAT_EQ(window[1].z, 1.5f);

  const auto ordered = vbu::projectImagePointsToArmBase(ctx, {{10, 10}, {-5, 3}, {11, 10}});
  ASSERT_EQ(ordered.size(), 2u);
  EXPECT_FLOAT_EQ(ordered[0].x, (10 - 320) * 0.002f);
  EXPECT_FLOAT_EQ(ordered[1].x, (11 - 320) * 0.002f);

  // An empty window accepts nothing.
  EXPECT_TRUE(vbu::projectImagePointsToMap(context(200, 100), {{0, 0}, {5, 5}}).empty());
}

TEST(ProjectPixels, RawDepthZeroIsTheCameraOriginWhenTheWindowAllowsIt) {
  Eigen::Matrix4d camera_to_arm_base = translation(0.3, -0.4, 0.5);
  camera_to_arm_base.topLeftCorner<3, 3>() =
      Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  vbu::ProjectionContext ctx = context(0, 10, camera_to_arm_base, translation(1, 1, 1));
  setDepth(ctx, 17, 33, 0);
  const auto points = vbu::projectImagePointsToMap(ctx, {{17, 33}, {18, 33}});
  ASSERT_EQ(points.size(), 1u);
  expectPoint(points[0], 1.3f, 0.6f, 1.5f);

  ctx.min_depth = 1;
  EXPECT_TRUE(vbu::projectImagePointsToMap(ctx, {{17, 33}}).empty());
}

TEST(ProjectPixels, ListsOfListsKeepTheirShape) {
  const vbu::ProjectionContext ctx = context();
  const auto sets = vbu::projectImagePointSetsToMap(ctx, {{}, {{320, 240}}, {{-1, 0}}});
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_TRUE(sets[0].empty());
  ASSERT_EQ(sets[1].size(), 1u);
  expectPoint(sets[1][0], 0, 0, 1);
  EXPECT_TRUE(sets[2].empty());
  EXPECT_EQ(vbu::projectImagePointSetsToArmBase(ctx, {{{320, 240}, {321, 240}}}).at(0).size(), 2u);
  EXPECT_TRUE(vbu::projectImagePointSetsToArmBase(ctx, {}).empty());
}

TEST(ProjectPixels, RefuseContextsThatCannotBeRead) {
  const auto invalid = [](const vbu::ProjectionContext& ctx) {
    const std::vector<std::function<void()>> calls = {
        [&] { vbu::projectImagePointsToMap(ctx, {}); },
        [&] { vbu::projectImagePointsToArmBase(ctx, {}); },
        [&] { vbu::projectImagePointSetsToMap(ctx, {}); },
        [&] { vbu::projectImagePointSetsToArmBase(ctx, {}); },
        [&] { vbu::projectPixelPairsToMap(ctx, {}); },
        [&] { vbu::projectPixelPairsToArmBase(ctx, {}); },
        [&] { vbu::projectImagePointsJsonToMap(ctx, json::array()); },
        [&] { vbu::projectImagePointsJsonToArmBase(ctx, json::array()); },
    };
    for (const auto& call : calls) {
      EXPECT_EQ(runtimeErrorText(call), "ProjectionContext is invalid");
    }
  };
  invalid(vbu::ProjectionContext());
  vbu::ProjectionContext zero_fx = context();
  zero_fx.fx = 0;
  invalid(zero_fx);
  vbu::ProjectionContext nan_fy = context();
  nan_fy.fy = std::nan("");
  invalid(nan_fy);
  // A hand-built context with 8-bit pixels would be read past its rows as 16-bit depth.
  vbu::ProjectionContext eight_bit = context();
  eight_bit.depth = cv::Mat(kRows, kCols, CV_8UC1, cv::Scalar(1));
  invalid(eight_bit);
  // Nor may one built by hand give non-finite points.
  vbu::ProjectionContext denormal_fx = context();
  denormal_fx.fx = 1e-320;
  invalid(denormal_fx);
  vbu::ProjectionContext far_map = context();
  far_map.camera_to_map(2, 3) = 1e300;
  invalid(far_map);
  vbu::ProjectionContext no_scale = context();
  no_scale.depth_scale = std::nan("");
  invalid(no_scale);
  vbu::ProjectionContext float_beyond_range = context(1, INT_MAX);
  float_beyond_range.depth = cv::Mat(kRows, kCols, CV_32FC1, cv::Scalar(3e38));
  float_beyond_range.depth_scale = 1e30;
  invalid(float_beyond_range);
}

TEST(ProjectPixels, ReadsImagesWithPaddedRows) {
  // A hand-built context may hold a view into a larger image.
  vbu::ProjectionContext ctx = context(0, 65535);
  cv::Mat larger(kRows + 3, kCols + 7, CV_16UC1);
  cv::randu(larger, 0, 65535);
  ctx.depth = larger(cv::Rect(5, 2, kCols, kRows));
  ASSERT_FALSE(ctx.depth.isContinuous());
  const Pixels pixels = wholeFrame(ctx);
  expectSamePoints(vbu::projectImagePointsToMap(ctx, pixels),
                   referenceProjection(ctx, pixels, ctx.camera_to_map));
}

// Float frames hold metres up to 70 m with NaN, infinities, zeros and negative values
// sprinkled in.
void fillFloatDepth(cv::Mat& depth, std::mt19937& rng) {
  depth = cv::Mat(kRows, kCols, CV_32FC1);
  cv::randu(depth, -2.0, 70.0);
  const float odd[] = {std::nanf(""), INFINITY, -INFINITY, 0.0f, -0.0f, 1e-40f};
  std::uniform_int_distribution<int> pick(0, 5);
  for (int i = 0; i < 20000; ++i) {
    depth.at<float>(i * 7 % kRows, i * 31 % kCols) = odd[pick(rng)];
  }
}

TEST(ProjectPixels, WholeFramesMatchTheDoublePrecisionFormula) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  // 16-bit millimetres, 16-bit TUM units (1/5000 m), 16-bit 0.1 mm, float metres.
  const double scales[] = {0.001, 0.001, 0.001, 0.001, 1 / 5000.0, 0.0001, 0.001, 0.001};
  for (int trial = 0; trial < 8; ++trial) {
    Eigen::Matrix4d camera_to_arm_base = translation(unit(rng), unit(rng), unit(rng));
    camera_to_arm_base.topLeftCorner<3, 3>() =
        Eigen::Quaterniond(unit(rng), unit(rng), unit(rng), unit(rng))
            .normalized()
            .toRotationMatrix();
    Eigen::Matrix4d arm_base_to_map = translation(20 * unit(rng), 20 * unit(rng), unit(rng));
    arm_base_to_map.topLeftCorner<3, 3>() =
        Eigen::AngleAxisd(3 * unit(rng), Eigen::Vector3d::UnitZ()).toRotationMatrix();
    vbu::ProjectionContext ctx = context(0, 65535, camera_to_arm_base, arm_base_to_map);
    ctx.fx = 300 + 400 * (unit(rng) + 1);
    ctx.fy = ctx.fx * (1 + 0.05 * unit(rng));
    ctx.cx = kCols / 2.0 + 30 * unit(rng);
    ctx.cy = kRows / 2.0 + 30 * unit(rng);
    ctx.depth_scale = scales[trial];
    ctx.min_depth = trial % 4 == 0 ? 0 : 300 * (trial % 4);
    ctx.max_depth = 65535 - 2000 * (trial % 4);
    if (trial < 6) {
      cv::randu(ctx.depth, 0, 65535);
    } else {
      fillFloatDepth(ctx.depth, rng);
      // Millimetres as for 16-bit images, then a window below zero: no depth passes that
      // is not positive.
      ctx.min_depth = trial == 6 ? 500 : -1000;
      ctx.max_depth = trial == 6 ? 60000 : 1000000;
    }

    Pixels pixels = wholeFrame(ctx);
    // Some pixels off the image, scattered through the list; odd trials in random order.
    for (std::size_t i = 0; i < pixels.size(); i += 977) {
      pixels[i] = {-1 - static_cast<int>(i % 5), kRows};
    }
    if (trial % 2 == 1) {
      std::shuffle(pixels.begin(), pixels.end(), rng);
    }
    for (const auto* t : {&ctx.camera_to_arm_base, &ctx.camera_to_map}) {
      const auto reference = referenceProjection(ctx, pixels, *t);
      expectSamePoints(t == &ctx.camera_to_map ? vbu::projectImagePointsToMap(ctx, pixels)
                                               : vbu::projectImagePointsToArmBase(ctx, pixels),
                       reference);
      expectSamePoints(portableProjection(ctx, pixels, *t), reference);
    }
  }
}

TEST(ProjectPixels, OneContextServesManyThreads) {
  vbu::ProjectionContext ctx = context(1, 60000, translation(0.1, 0.2, 0.3), translation(5, 6, 7));
  cv::randu(ctx.depth, 0, 3000);
  const Pixels pixels = wholeFrame(ctx);
  const auto expected = vbu::projectImagePointsToMap(ctx, pixels);
  std::vector<std::size_t> differing(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < differing.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        const auto points = t % 2 == 0 ? vbu::projectImagePointsToMap(ctx, pixels)
                                       : vbu::projectImagePointSetsToMap(ctx, {pixels}).at(0);
        differing[t] += points.size() != expected.size() ||
                        std::memcmp(points.data(), expected.data(),
                                    expected.size() * sizeof(vbu::ProjectedPoint)) != 0;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(differing, std::vector<std::size_t>(4, 0));
}

TEST(ImagePointsJson, AcceptsTheThreeEntryShapes) {
  const Pixels expected = {{3, 4}, {5, 6}, {7, 8}, {9, 10}, {3, 4}, {-2, 1}, {INT_MAX, INT_MIN}};
  EXPECT_EQ(vbu::parseImagePointsJson(json::parse(
                R"([[3,4], {"x":5,"y":6}, {"u":7,"v":8}, [9,10,11], {"x":1.5,"y":2,"u":3,"v":4},
                    {"x":-2,"y":1,"u":9,"v":9,"z":"ignored"}, [2147483647, -2147483648]])")),
            expected);
  EXPECT_TRUE(vbu::parseImagePointsJson(json::array()).empty());
  // Unsigned integers qualify too.
  EXPECT_EQ(vbu::parseImagePointsJson(json::array({json::array({7u, 8u})})), Pixels({{7, 8}}));
}

TEST(ImagePointsJson, RefusesOtherShapesAndOutOfRangeCoordinates) {
  EXPECT_EQ(runtimeErrorText([] { vbu::parseImagePointsJson(json::parse(R"({"points":[]})")); }),
            "points must be a json array");
  EXPECT_EQ(runtimeErrorText([] { vbu::parseImagePointsJson(json()); }),
            "points must be a json array");
  for (const char* text :
       {R"([[3.0, 4]])", R"([[3]])", R"([[3, "4"]])", R"([{"x":1}])", R"([{"x":1,"v":2}])",
        R"([{"u":1,"v":2.5}])", R"([true])", R"([null])", R"([5])", R"(["3,4"])", R"([[1,2], [3]])",
        R"([[2147483648, 0]])", R"([[0, -2147483649]])", R"([[4294967296, 4294967296]])",
        R"([{"x":0,"y":18446744073709551615}])", R"([{"u":-9223372036854775808,"v":0}])"}) {
    EXPECT_EQ(runtimeErrorText([&] { vbu::parseImagePointsJson(json::parse(text)); }),
              "invalid point entry in points json")
        << text;
  }
}

TEST(ImagePointsJson, ProjectsIntoPointsJson) {
  vbu::ProjectionContext ctx = context(1, 10000, translation(0.1, 0, 0), translation(0, 0, 0.2));
  const json arm = vbu::projectImagePointsJsonToArmBase(
      ctx, json::parse(R"([[320,240], {"u":-1,"v":0}, {"x":820,"y":240}])"));
  EXPECT_EQ(arm.dump(), "[[0.10000000149011612,0.0,1.0],[1.100000023841858,0.0,1.0]]");
  EXPECT_EQ(vbu::projectImagePointsJsonToMap(ctx, json::parse("[[320,240]]")).dump(),
            "[[0.10000000149011612,0.0,1.2000000476837158]]");
  EXPECT_EQ(vbu::projectImagePointsJsonToMap(ctx, json::array()).dump(), "[]");
  EXPECT_EQ(vbu::projectImagePointsJsonToMap(ctx, json::parse("[[-1,-1]]")).dump(), "[]");

  // The input is parsed before the context is looked at.
  EXPECT_EQ(runtimeErrorText(
                [] { vbu::projectImagePointsJsonToMap(vbu::ProjectionContext(), json::object()); }),
            "points must be a json array");
  EXPECT_EQ(runtimeErrorText([] {
              vbu::projectImagePointsJsonToArmBase(vbu::ProjectionContext(), json::parse("[[1]]"));
            }),
            "invalid point entry in points json");
}
