// SPDX-License-Identifier: Apache-2.0
// What vantorel_frame_points writes: the points as JSON, a coloured PLY point cloud, the
// labelled cloud as PCD (and the organised cloud of the whole frame on request), an overlay
// picture, and the summary table it prints.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_OUTPUTS_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_OUTPUTS_HPP_

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <rclcpp/logger.hpp>

#include "frame_pipeline.hpp"

namespace vantorel_tools {

// {"frame": ..., "classes": {"<cls>": {"instances": [{"detection_index", "confidence",
//  "bbox_xyxy", "centroid", "points": [[x, y, z], ...]}]}}}
nlohmann::json pointsDocument(const FrameResult& result);

enum class PlyFormat { Auto, Ascii, Binary };

// Auto writes binary PLY above this many points: ASCII is three times larger and slower to
// read, and nobody reads thousands of lines.
constexpr std::size_t kLargestAsciiPly = 4096;

// PLY, one vertex per point (float x, y, z, uchar red, green, blue), coloured by class; binary
// is binary_little_endian 1.0.
std::string plyFile(const FrameResult& result, PlyFormat format);

// Depth in false colour with every instance's mask, box and label drawn over it.
cv::Mat overlayImage(const cv::Mat& depth, const FrameResult& result);

// The table of summarise(), then how many mask pixels had no depth in the window of
// `options`, with a hint at the depth options when most had none.
void printSummary(std::ostream& out, const FrameResult& result, const FrameOptions& options);

struct OutputOptions {
  PlyFormat ply = PlyFormat::Auto;
};

struct OutputFiles {
  std::string points_json;
  std::string point_cloud_ply;
  std::string overlay_png;
  std::string point_cloud_pcd;  // the labelled cloud
  std::string organized_pcd;    // empty when the result has no organised cloud
};

// Writes points.json, points.ply, points.pcd, overlay.png and, when the result has the
// organised cloud, organized.pcd into `dir` (created if missing) as one set, or none of them
// (see StagedOutputs); without the organised cloud an earlier organized.pcd is removed with
// the set. Throws std::runtime_error on failure.
OutputFiles writeOutputs(const std::string& dir, const FrameInputs& inputs,
                         const FrameResult& result, const rclcpp::Logger& logger,
                         const OutputOptions& options = {});

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__FRAME_OUTPUTS_HPP_
