// What vantorel_frame_points writes: the points as JSON, a coloured PLY point cloud and an
// overlay picture, and the summary table it prints.
#ifndef VANTOREL_TOOLS__FRAME_OUTPUTS_HPP_
#define VANTOREL_TOOLS__FRAME_OUTPUTS_HPP_

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

// ASCII PLY, one vertex per point, coloured by class.
std::string plyText(const FrameResult& result);

// Depth in false colour with every instance's mask, box and label drawn over it.
cv::Mat overlayImage(const cv::Mat& depth, const FrameResult& result);

void printSummary(std::ostream& out, const FrameResult& result);

struct OutputFiles {
  std::string points_json;
  std::string point_cloud_ply;
  std::string overlay_png;
};

// Writes all three files into `dir` (created if missing) as one set, or none of them (see
// StagedOutputs). Throws std::runtime_error on failure.
OutputFiles writeOutputs(const std::string& dir, const FrameInputs& inputs,
                         const FrameResult& result, const rclcpp::Logger& logger);

}  // namespace vantorel_tools

#endif  // VANTOREL_TOOLS__FRAME_OUTPUTS_HPP_
