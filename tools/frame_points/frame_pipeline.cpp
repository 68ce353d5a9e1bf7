#include "frame_pipeline.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/regular_file.hpp"
#include "vantorel_base_utils/timer.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;
namespace ymp = vantorel_base_utils::yolo_mask_parser;
using nlohmann::json;

namespace {

std::string readInputFile(const std::string& path, std::size_t max_bytes) {
  try {
    return vbu::readRegularFile(path, max_bytes);
  } catch (const vbu::FileReadError& e) {
    throw InputError(path + ": " + e.what());
  }
}

// The library reads any extra entries past the first three or four as unused; here they
// are a mistake in the file.
void checkTransformShape(const json& doc, const std::string& path) {
  const auto numbers = [&](const char* key, std::size_t count) {
    const auto member = doc.is_object() ? doc.find(key) : doc.end();
    const bool fits =
        member != doc.end() && member->is_array() && member->size() == count &&
        std::all_of(member->begin(), member->end(), [](const json& v) { return v.is_number(); });
    if (!fits) {
      throw InputError(path + ": \"" + key + "\" must hold exactly " + std::to_string(count) +
                       " numbers");
    }
  };
  numbers("translation", 3);
  numbers("rotation", 4);
}

Eigen::Matrix4d readTransform(const std::string& path) {
  const std::string text = readInputFile(path, kMaxTransformFileBytes);
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw InputError(path + ": not a transform document: " + e.what());
  }
  checkTransformShape(doc, path);
  return vbu::toEigenTransform(doc);
}

struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;  // 0: greyscale
};

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// The image header that every PNG starts with (signature, then the IHDR chunk).
std::optional<PngHeader> pngHeaderOf(const std::string& bytes) {
  static const std::string kStart("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  if (bytes.size() < 33 || bytes.compare(0, kStart.size(), kStart) != 0) {
    return std::nullopt;
  }
  return PngHeader{bigEndian32(bytes, 16), bigEndian32(bytes, 20),
                   static_cast<unsigned char>(bytes[24]), static_cast<unsigned char>(bytes[25])};
}

std::string sizeMismatch(const std::string& path, std::uint64_t width, std::uint64_t height,
                         const sensor_msgs::msg::CameraInfo& camera) {
  return path + ": depth image is " + std::to_string(width) + "x" + std::to_string(height) +
         " but the calibration says " + std::to_string(camera.width) + "x" +
         std::to_string(camera.height);
}

// The header is checked against the calibration before anything is decoded, so that a small
// file cannot make the decoder allocate an image the frame never had.
cv::Mat readDepth(const std::string& path, const sensor_msgs::msg::CameraInfo& camera) {
  const std::string bytes = readInputFile(path, kMaxInputFileBytes);
  const std::optional<PngHeader> header = pngHeaderOf(bytes);
  if (!header) {
    throw InputError(path + ": not a PNG image (the depth image is a 16-bit greyscale PNG)");
  }
  if (header->bit_depth != 16 || header->colour_type != 0) {
    throw InputError(path + ": depth image must be 16-bit single channel, got a PNG of bit depth " +
                     std::to_string(header->bit_depth) + " and colour type " +
                     std::to_string(header->colour_type));
  }
  if (header->width != camera.width || header->height != camera.height) {
    throw InputError(sizeMismatch(path, header->width, header->height, camera));
  }
  cv::Mat depth;
  try {
    const cv::_InputArray encoded(reinterpret_cast<const uchar*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    depth = cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    depth = cv::Mat();
  }
  if (depth.empty()) {
    throw InputError(path + ": not an image OpenCV can read");
  }
  if (depth.type() != CV_16UC1) {
    throw InputError(path + ": depth image must be 16-bit single channel, got OpenCV type " +
                     std::to_string(depth.type()));
  }
  return depth;
}

// The library's message names the file already.
sensor_msgs::msg::CameraInfo readCameraInfo(const std::string& path, const rclcpp::Logger& logger) {
  try {
    return vbu::cameraInfoFromCalibrationFile(path, logger);
  } catch (const std::runtime_error& e) {
    throw InputError(e.what());
  }
}

std::vector<InstancePoints> instancesOf(const ymp::ParsedYolo& parsed,
                                        const std::vector<ymp::InstancePixelSet>& sets) {
  std::map<std::size_t, const ymp::YoloDetection*> by_index;
  for (const auto& d : parsed.detections) {
    by_index[d.index] = &d;
  }
  std::vector<InstancePoints> instances;
  instances.reserve(sets.size());
  for (const auto& set : sets) {
    const ymp::YoloDetection& d = *by_index.at(set.index);
    InstancePoints instance;
    instance.detection_index = set.index;
    instance.cls = set.cls;
    instance.conf = d.conf;
    instance.box = {d.x1, d.y1, d.x2, d.y2};
    instance.pixels = set.pixels;
    instances.push_back(std::move(instance));
  }
  return instances;
}

template <typename Point>
std::vector<std::array<float, 3>> asArrays(const std::vector<Point>& points) {
  std::vector<std::array<float, 3>> out;
  out.reserve(points.size());
  for (const auto& p : points) {
    out.push_back({p.x, p.y, p.z});
  }
  return out;
}

void projectInstances(const FrameInputs& inputs, const FrameOptions& options,
                      const rclcpp::Logger& logger, std::vector<InstancePoints>& instances) {
  const vbu::ProjectionContext context = vbu::createProjectionContext(
      inputs.depth, inputs.camera_info, inputs.camera_to_arm_base, inputs.arm_base_to_map,
      options.min_depth, options.max_depth, logger);
  std::vector<std::vector<std::array<int, 2>>> pixel_lists;
  pixel_lists.reserve(instances.size());
  for (const auto& instance : instances) {
    pixel_lists.push_back(instance.pixels);
  }
  const auto projected = options.frame == TargetFrame::Map
                             ? vbu::projectImagePointSetsToMap(context, pixel_lists)
                             : vbu::projectImagePointSetsToArmBase(context, pixel_lists);
  for (std::size_t i = 0; i < instances.size(); ++i) {
    instances[i].points = asArrays(projected[i]);
  }
}

// The class ids of the class masks, as detections name them; a key that is no id's text
// ("07", "abc") is left out, since no detection can use it.
std::vector<int> classMaskIds(const ymp::ParsedYolo& parsed) {
  std::vector<int> ids;
  for (const auto& [key, text] : parsed.masks_base64) {
    int id = 0;
    const char* end = key.data() + key.size();
    if (std::from_chars(key.data(), end, id).ptr == end && std::to_string(id) == key) {
      ids.push_back(id);
    }
  }
  return ids;
}

// The library logs a class mask that does not decode and goes on without it; the tool stops
// instead, as its README promises. One probe detection per class mask, covering the mask's
// first pixel, which every decoded mask has, tells: its window is empty exactly when the
// library could not decode the mask or refused it for its size. The masks are still decoded
// once.
std::vector<ymp::InstancePixelSet> pixelSetsOf(ymp::ParsedYolo parsed,
                                               const std::string& detections_path,
                                               const ymp::MaskBudget& mask_budget,
                                               const rclcpp::Logger& logger) {
  const std::vector<int> ids = classMaskIds(parsed);
  std::size_t probe_index = 0;
  for (const auto& d : parsed.detections) {
    probe_index = std::max(probe_index, d.index + 1);
  }
  if (!parsed.instance_masks.empty()) {
    probe_index = std::max(probe_index, parsed.instance_masks.rbegin()->first + 1);
  }
  const std::size_t real_count = parsed.detections.size();
  for (const int id : ids) {
    parsed.detections.push_back({probe_index++, 0.0F, 0.0F, 1.0F, 1.0F, id, 0.0F, 1.0F});
  }
  std::vector<ymp::InstancePixelSet> sets =
      ymp::buildInstancePixelSets(parsed, logger, mask_budget);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    if (sets[real_count + k].roi_width == 0) {
      throw InputError(detections_path + ": class mask " + std::to_string(ids[k]) +
                       " does not decode or exceeds the depth frame");
    }
  }
  sets.resize(real_count);
  return sets;
}

// Non-finite numbers would reach the outputs as JSON null and PLY "inf".
void requireFiniteDetections(const ymp::ParsedYolo& parsed, const std::string& detections_path) {
  for (const auto& d : parsed.detections) {
    if (!std::isfinite(d.x1) || !std::isfinite(d.y1) || !std::isfinite(d.x2) ||
        !std::isfinite(d.y2) || !std::isfinite(d.conf)) {
      throw InputError(detections_path + ": detection " + std::to_string(d.index) +
                       " has a box corner or confidence beyond the range of float");
    }
  }
}

// The files that decide where a pixel lands, named when projecting fails.
std::string projectionInputs(const FrameOptions& options) {
  return options.camera_path + ", " + options.camera_to_arm_base_path + ", " +
         options.arm_base_to_map_path;
}

void requireFinitePoints(const FrameResult& result, const FrameOptions& options) {
  for (const auto& instance : result.instances) {
    for (const auto& p : instance.points) {
      if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
        throw InputError(projectionInputs(options) +
                         ": the projection gives coordinates that are not finite numbers "
                         "(degenerate intrinsics or transforms)");
      }
    }
  }
}

// Runs `step` under a named timer and turns the library's exceptions into an InputError
// that names the file the bad content came from.
template <typename Step>
auto timed(const char* name, const std::string& blame, Step&& step) {
  vbu::Timer timer(name, false);
  timer.start();
  try {
    auto result = step();
    timer.stop();
    return result;
  } catch (const InputError&) {
    throw;
  } catch (const std::exception& e) {
    throw InputError(blame + ": " + e.what());
  }
}

}  // namespace

void useFrameFolder(FrameOptions& options, const std::string& dir) {
  const std::filesystem::path folder(dir);
  options.detections_path = (folder / "detections.json").string();
  options.depth_path = (folder / "depth.png").string();
  options.camera_path = (folder / "camera.yaml").string();
  options.camera_to_arm_base_path = (folder / "camera_to_arm_base.json").string();
  options.arm_base_to_map_path = (folder / "arm_base_to_map.json").string();
}

FrameInputs loadFrameInputs(const FrameOptions& options, const rclcpp::Logger& logger) {
  return timed("load", "inputs", [&] {
    FrameInputs inputs;
    inputs.detections_text = readInputFile(options.detections_path, kMaxInputFileBytes);
    inputs.camera_info = readCameraInfo(options.camera_path, logger);
    inputs.camera_to_arm_base = readTransform(options.camera_to_arm_base_path);
    inputs.arm_base_to_map = readTransform(options.arm_base_to_map_path);
    inputs.depth = readDepth(options.depth_path, inputs.camera_info);
    if (inputs.depth.cols != static_cast<int>(inputs.camera_info.width) ||
        inputs.depth.rows != static_cast<int>(inputs.camera_info.height)) {
      throw InputError(
          sizeMismatch(options.depth_path, static_cast<std::uint64_t>(inputs.depth.cols),
                       static_cast<std::uint64_t>(inputs.depth.rows), inputs.camera_info));
    }
    if (!vbu::cameraInfoHasValidIntrinsics(inputs.camera_info)) {
      throw InputError(options.camera_path + ": no usable focal lengths");
    }
    return inputs;
  });
}

FrameResult runFrame(const FrameInputs& inputs, const FrameOptions& options,
                     const rclcpp::Logger& logger) {
  const std::string& detections = options.detections_path;
  ymp::ParsedYolo parsed = timed(
      "parse", detections, [&] { return ymp::parseYoloResult(inputs.detections_text, logger); });
  parsed = timed("filter", detections, [&] {
    ymp::ParsedYolo kept = ymp::filterParsedYolo(parsed, options.keep_classes);
    return options.nms_iou_threshold
               ? ymp::sameClassBboxNms(kept, *options.nms_iou_threshold, logger)
               : kept;
  });
  requireFiniteDetections(parsed, detections);
  ymp::MaskBudget mask_budget;  // no mask may be larger than the depth frame
  mask_budget.frame = inputs.depth.size();
  const auto sets = timed("pixel_sets", detections,
                          [&] { return pixelSetsOf(parsed, detections, mask_budget, logger); });
  FrameResult result;
  result.frame = options.frame;
  result.instances = instancesOf(parsed, sets);
  timed("projection", projectionInputs(options), [&] {
    projectInstances(inputs, options, logger, result.instances);
    return 0;
  });
  requireFinitePoints(result, options);
  return result;
}

std::array<double, 3> centroidOf(const std::vector<std::array<float, 3>>& points) {
  std::array<double, 3> sum{};
  for (const auto& p : points) {
    for (std::size_t i = 0; i < 3; ++i) {
      sum[i] += p[i];
    }
  }
  if (!points.empty()) {
    for (double& s : sum) {
      s /= static_cast<double>(points.size());
    }
  }
  return sum;
}

std::vector<ClassSummary> summarise(const FrameResult& result) {
  std::map<int, std::vector<std::array<float, 3>>> points_by_class;
  std::map<int, std::size_t> instances_by_class;
  for (const auto& instance : result.instances) {
    ++instances_by_class[instance.cls];
    auto& points = points_by_class[instance.cls];
    points.insert(points.end(), instance.points.begin(), instance.points.end());
  }
  std::vector<ClassSummary> rows;
  for (const auto& [cls, points] : points_by_class) {
    rows.push_back({cls, instances_by_class[cls], points.size(), centroidOf(points)});
  }
  return rows;
}

const char* frameName(TargetFrame frame) {
  return frame == TargetFrame::Map ? "map" : "arm_base";
}

}  // namespace vantorel_tools
