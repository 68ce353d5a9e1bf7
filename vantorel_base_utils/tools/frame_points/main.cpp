// SPDX-License-Identifier: Apache-2.0
// vantorel_frame_points: one recorded camera frame, or a folder of them, from detector result
// and depth image to 3D points, written as JSON, PLY and PCD point clouds and an overlay
// picture.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <unistd.h>

#include <rcutils/error_handling.h>
#include <rcutils/logging.h>
#include <rclcpp/rclcpp.hpp>

#include "frame_outputs.hpp"
#include "frame_pipeline.hpp"
#include "frame_sequence.hpp"
#include "output_folder.hpp"
#include "printable_text.hpp"
#include "stop_signals.hpp"
#include "vantorel_base_utils/timer.hpp"

namespace {

namespace fs = std::filesystem;
using vantorel_tools::FrameOptions;
using vantorel_tools::TargetFrame;

constexpr const char* kUsage = R"(usage: vantorel_frame_points [options]

Projects the detected instances of one camera frame into 3D. Without any input option it
runs on the bundled sample frame; otherwise every input must be given, as a file option
or through --sample-dir.

inputs (default: the sample frame):
  --sample-dir DIR           take every input not given as a file option from DIR
                             (detections.json, depth.png, camera.yaml,
                             camera_to_arm_base.json, arm_base_to_map.json)
  --detections FILE          detector result JSON
  --depth FILE               depth image: 16-bit greyscale PNG in raw units (see
                             --depth-scale), or 32-bit float metres as a single-channel
                             TIFF
  --camera FILE              camera calibration YAML, or the CameraInfo message as
                             `ros2 topic echo --once` (or ROS 1 `rostopic echo`) prints it
  --camera-to-arm-base FILE  transform: JSON {"translation": [x,y,z], "rotation": [w,x,y,z]}
                             (w first), or a Transform or TransformStamped as
                             `ros2 topic echo --once` prints it (rotation {x, y, z, w})
  --arm-base-to-map FILE     transform, in either form
  --sequence DIR             every frame folder of DIR (each laid out as for --sample-dir),
                             in name order, each written into <output>/<folder name>/
  --jobs N                   frames at a time with --sequence (default: one per core)
options:
  --classes LIST             class ids to keep, comma separated (default: all)
  --nms IOU                  same-class box suppression threshold, 0 to 1 (default: 0.5;
                             "off")
  --depth-scale METRES       metres per raw unit of a 16-bit image (default: 0.001;
                             0.0002 for TUM RGB-D and ICL-NUIM files)
  --min-depth N              smallest accepted depth in raw units (default: 1)
  --max-depth N              largest accepted depth in raw units (default: 10000);
                             a float image keeps metres from min-depth x depth-scale
                             to max-depth x depth-scale (by default 0.001 to 10 m),
                             and its NaN, infinite and <= 0 pixels have no depth
  --frame map|arm_base       target frame (default: map)
  --output DIR               output folder (default: frame_points_out)
  --ply ascii|binary         points.ply format (default: binary above 4096 points)
  --organized                also write organized.pcd, the whole frame as an organised
                             cloud (NaN where a pixel has no depth)
budgets (what one frame may hold, checked before the work it guards):
  --max-points N             mask pixels, each a possible point, a frame may project
                             (default: 8388608, about 0.6 GB; its masks may hold twice
                             as many pixels)
  --max-depth-pixels N       pixels of the depth image, checked on its header before it
                             is decoded, whatever the calibration says (default: 8388608,
                             3840x2160 fits; about 0.15 GB, 0.35 GB with
                             --organized)
  --timers                   print the time spent in each stage
  --verbose                  also print the library's INFO and DEBUG messages
  --help                     this text

exit status: 0 done; 1 an input refused, a budget exceeded, an output not written or a
frame of --sequence failed; 2 bad options; 130 or 143 stopped by SIGINT or SIGTERM (no
frame is started after it, and no output set is left half replaced).
)";

fs::path sampleDir() {
  for (const char* candidate : {VANTOREL_SAMPLE_DIR_INSTALLED, VANTOREL_SAMPLE_DIR_SOURCE}) {
    if (fs::exists(fs::path(candidate) / "detections.json")) {
      return candidate;
    }
  }
  return VANTOREL_SAMPLE_DIR_INSTALLED;
}

// A whole number as a person writes one: an optional minus sign and decimal digits without
// leading zeros, nothing else ("+1", " 1" and "01" are refused), within int.
int parseInt(const std::string& flag, const std::string& text) {
  const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  const bool plain = text.size() > digits &&
                     std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digits), text.end(),
                                 [](char c) { return c >= '0' && c <= '9'; }) &&
                     (text[digits] != '0' || text.size() == digits + 1);
  int value = 0;
  const char* end = text.data() + text.size();
  if (!plain || std::from_chars(text.data(), end, value).ptr != end) {
    throw std::invalid_argument(flag + ": not a whole number within int: \"" + text + "\"");
  }
  return value;
}

// An intersection-over-union threshold: a finite number from 0 to 1.
float parseIouThreshold(const std::string& flag, const std::string& text) {
  float value = 0.0F;
  const char* end = text.data() + text.size();
  const auto [used, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || used != end || error != std::errc() || !(value >= 0.0F && value <= 1.0F)) {
    throw std::invalid_argument(flag + " must be a number from 0 to 1 or \"off\": \"" + text +
                                "\"");
  }
  return value;
}

// A depth unit in metres: a finite normal number above 0, as the projection accepts it.
double parseDepthScale(const std::string& flag, const std::string& text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [used, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || used != end || error != std::errc() || !std::isnormal(value) || value < 0.0) {
    throw std::invalid_argument(flag + " must be a finite number of metres above 0: \"" + text +
                                "\"");
  }
  return value;
}

std::set<int> parseClasses(const std::string& text) {
  std::set<int> classes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    if (!classes.insert(parseInt("--classes", item)).second) {
      throw std::invalid_argument("--classes: class " + item + " given twice");
    }
    if (comma == std::string::npos) {
      return classes;
    }
    start = comma + 1;
  }
}

// A budget: a whole number above 0, written plainly.
std::uint64_t parseBudget(const std::string& flag, const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const bool plain = !text.empty() && text[0] >= '1' && text[0] <= '9';
  const auto [used, error] = std::from_chars(text.data(), end, value);
  if (!plain || used != end || error != std::errc()) {
    throw std::invalid_argument(flag + ": not a whole number from 1 to 2^64 - 1: \"" + text + "\"");
  }
  return value;
}

// The single-frame input files, each with its option, in the order of --help.
const std::vector<std::pair<std::string, std::string FrameOptions::*>>& fileFlags() {
  static const std::vector<std::pair<std::string, std::string FrameOptions::*>> kFlags = {
      {"--detections", &FrameOptions::detections_path},
      {"--depth", &FrameOptions::depth_path},
      {"--camera", &FrameOptions::camera_path},
      {"--camera-to-arm-base", &FrameOptions::camera_to_arm_base_path},
      {"--arm-base-to-map", &FrameOptions::arm_base_to_map_path}};
  return kFlags;
}

bool isInputFlag(const std::string& flag) {
  return flag == "--sample-dir" ||
         std::any_of(fileFlags().begin(), fileFlags().end(),
                     [&](const auto& entry) { return entry.first == flag; });
}

struct Command {
  FrameOptions frame;
  vantorel_tools::OutputOptions outputs;
  std::string output_dir = "frame_points_out";
  std::string sequence_dir;     // empty: one frame
  std::optional<int> jobs;      // frames at a time with --sequence
  std::string last_input_flag;  // one of the single-frame inputs, if given
  std::optional<std::string> sample_dir;
  std::map<std::string, std::string> input_files;  // by option
  bool timers = false;
  bool verbose = false;
  bool help = false;
};

// Frames more at a time than this only cost memory.
constexpr int kMaxJobs = 1024;

void checkSequenceOptions(const Command& command) {
  if (command.sequence_dir.empty()) {
    if (command.jobs) {
      throw std::invalid_argument("--jobs applies to --sequence only");
    }
    return;
  }
  if (!command.last_input_flag.empty()) {
    throw std::invalid_argument(command.last_input_flag +
                                " cannot be combined with --sequence, which takes every input "
                                "from the frame folders");
  }
  if (command.jobs && (*command.jobs < 1 || *command.jobs > kMaxJobs)) {
    throw std::invalid_argument("--jobs must be from 1 to " + std::to_string(kMaxJobs));
  }
}

// The bundled sample only when no input is named at all: a frame of one's own with the
// sample's camera or transforms would give points in the wrong place without a word.
void chooseInputs(Command& command) {
  if (!command.sequence_dir.empty()) {
    return;
  }
  FrameOptions& frame = command.frame;
  if (command.input_files.empty() || command.sample_dir) {
    vantorel_tools::useFrameFolder(frame, command.sample_dir.value_or(sampleDir().string()));
  }
  std::string missing;
  for (const auto& [flag, member] : fileFlags()) {
    const auto given = command.input_files.find(flag);
    if (given != command.input_files.end()) {
      frame.*member = given->second;
    } else if (!command.input_files.empty() && !command.sample_dir) {
      missing += (missing.empty() ? "" : ", ") + flag;
    }
  }
  if (!missing.empty()) {
    throw std::invalid_argument(
        "missing " + missing +
        ": give every input file, or --sample-dir DIR for those not given (without any "
        "input option the bundled sample frame is used)");
  }
}

Command parseCommand(int argc, char** argv) {
  Command command;
  command.frame.nms_iou_threshold = 0.5F;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) {
        throw std::invalid_argument(flag + " needs a value");
      }
      return args[++i];
    };
    FrameOptions& f = command.frame;
    if (isInputFlag(flag)) {
      command.last_input_flag = flag;
    }
    if (flag == "--help" || flag == "-h") {
      command.help = true;
    } else if (flag == "--timers") {
      command.timers = true;
    } else if (flag == "--verbose") {
      command.verbose = true;
    } else if (flag == "--sample-dir") {
      command.sample_dir = value();
    } else if (isInputFlag(flag)) {
      command.input_files[flag] = value();
    } else if (flag == "--max-points") {
      f.max_points = parseBudget(flag, value());
    } else if (flag == "--max-depth-pixels") {
      f.max_depth_pixels = parseBudget(flag, value());
    } else if (flag == "--classes") {
      f.keep_classes = parseClasses(value());
    } else if (flag == "--nms") {
      const std::string& v = value();
      f.nms_iou_threshold.reset();
      if (v != "off") {
        f.nms_iou_threshold = parseIouThreshold(flag, v);
      }
    } else if (flag == "--depth-scale") {
      f.depth_scale = parseDepthScale(flag, value());
    } else if (flag == "--min-depth") {
      f.min_depth = parseInt(flag, value());
    } else if (flag == "--max-depth") {
      f.max_depth = parseInt(flag, value());
    } else if (flag == "--frame") {
      const std::string& v = value();
      if (v != "map" && v != "arm_base") {
        throw std::invalid_argument("--frame must be map or arm_base");
      }
      f.frame = v == "map" ? TargetFrame::Map : TargetFrame::ArmBase;
    } else if (flag == "--output") {
      command.output_dir = value();
    } else if (flag == "--ply") {
      const std::string& v = value();
      if (v != "ascii" && v != "binary") {
        throw std::invalid_argument("--ply must be ascii or binary");
      }
      command.outputs.ply =
          v == "ascii" ? vantorel_tools::PlyFormat::Ascii : vantorel_tools::PlyFormat::Binary;
    } else if (flag == "--organized") {
      f.organized = true;
    } else if (flag == "--sequence") {
      command.sequence_dir = value();
    } else if (flag == "--jobs") {
      command.jobs = parseInt(flag, value());
    } else {
      throw std::invalid_argument("unknown option " + flag + " (see --help)");
    }
  }
  if (command.frame.min_depth > command.frame.max_depth) {
    throw std::invalid_argument("--min-depth " + std::to_string(command.frame.min_depth) +
                                " is above --max-depth " + std::to_string(command.frame.max_depth));
  }
  checkSequenceOptions(command);
  chooseInputs(command);
  return command;
}

// The whole road of one frame, from its input files to its outputs in `output_dir`.
struct FrameDone {
  vantorel_tools::FrameResult result;
  vantorel_tools::OutputFiles files;
};

// The tool's own messages (a camera's distortion) and the library's about the detector
// result, which the tool refuses with its own line instead.
struct Loggers {
  rclcpp::Logger tool;
  rclcpp::Logger library;
};

// A stop signal rolls the frame back between its stages; once its outputs are being
// written they are finished.
FrameDone processFrame(const FrameOptions& frame, const vantorel_tools::OutputOptions& outputs,
                       const std::string& output_dir, const Loggers& loggers) {
  try {
    vantorel_tools::throwIfStopped();
    vantorel_tools::repairOutputFolder(output_dir);
    const auto inputs = vantorel_tools::loadFrameInputs(frame, loggers.tool);
    vantorel_tools::throwIfStopped();
    FrameDone done;
    done.result = vantorel_tools::runFrame(inputs, frame, loggers.library);
    vantorel_tools::throwIfStopped();
    done.files =
        vantorel_tools::writeOutputs(output_dir, inputs, done.result, loggers.tool, outputs);
    return done;
  } catch (const std::bad_alloc&) {
    throw std::runtime_error(
        frame.detections_path + ", " + frame.depth_path +
        ": out of memory within the budgets (--max-points " + std::to_string(frame.max_points) +
        ", --max-depth-pixels " + std::to_string(frame.max_depth_pixels) +
        "); lower them so that a frame beyond them is refused, or give the run more memory");
  }
}

int runOneFrame(const Command& command, const Loggers& logger) {
  const FrameDone done = processFrame(command.frame, command.outputs, command.output_dir, logger);
  const vantorel_tools::OutputFiles& files = done.files;
  vantorel_tools::printSummary(std::cout, done.result, command.frame);
  std::cout << vantorel_tools::printable(
                   "wrote " + files.points_json + ", " + files.point_cloud_ply + ", " +
                   files.point_cloud_pcd + ", " + files.overlay_png +
                   (files.organized_pcd.empty() ? "" : ", " + files.organized_pcd))
            << "\n";
  return 0;
}

int runSequence(const Command& command, const Loggers& logger) {
  vantorel_tools::SequenceSettings settings;
  settings.dir = command.sequence_dir;
  settings.output_root = command.output_dir;
  settings.jobs =
      command.jobs ? static_cast<unsigned>(*command.jobs) : vantorel_tools::defaultJobs();
  settings.progress_in_place = ::isatty(STDERR_FILENO) == 1;
  const auto job = [&](const FrameOptions& frame, const std::string& output_dir) {
    return vantorel_tools::countsOf(
        processFrame(frame, command.outputs, output_dir, logger).result);
  };
  return vantorel_tools::runSequenceCommand(settings, command.frame, job, std::cout, std::cerr);
}

void setLevel(const rclcpp::Logger& logger, int level) {
  if (rcutils_logging_set_logger_level(logger.get_name(), level) != RCUTILS_RET_OK) {
    rcutils_reset_error();
  }
}

// Every message the tool ends with is one line, its names escaped.
void printError(const std::string& what) {
  std::cerr << "vantorel_frame_points: " << vantorel_tools::printable(what) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const Loggers loggers{rclcpp::get_logger("vantorel_frame_points"),
                        rclcpp::get_logger("vantorel_frame_points.library")};
  Command command;
  try {
    command = parseCommand(argc, argv);
  } catch (const std::exception& e) {
    printError(e.what());
    return 2;
  }
  if (command.help) {
    std::cout << kUsage;
    return 0;
  }
  // The tool's warnings (a camera's distortion) always show; progress only on request. The
  // library's messages about a detector result only on request too: the tool refuses what
  // they are about with its own line. Setting the levels also initialises rcutils logging
  // before any worker thread logs.
  setLevel(loggers.tool, command.verbose ? RCUTILS_LOG_SEVERITY_DEBUG : RCUTILS_LOG_SEVERITY_WARN);
  setLevel(loggers.library,
           command.verbose ? RCUTILS_LOG_SEVERITY_DEBUG : RCUTILS_LOG_SEVERITY_FATAL);
  vantorel_tools::catchStopSignals();
  int status = 0;
  try {
    status = command.sequence_dir.empty() ? runOneFrame(command, loggers)
                                          : runSequence(command, loggers);
  } catch (const vantorel_tools::Interrupted& e) {
    printError(std::string(e.what()) + "; nothing written");
    return vantorel_tools::exitStatusFor(e.signal());
  } catch (const std::bad_alloc&) {
    printError("out of memory within the budgets; lower --max-points or --max-depth-pixels");
    return 1;
  } catch (const std::exception& e) {
    printError(e.what());
    return 1;
  }
  if (command.timers) {
    vantorel_base_utils::Timer::printGlobalStats();
  }
  // A signal that came while the outputs were being written let them finish; the caller
  // still learns that the run was asked to stop.
  const int stop = vantorel_tools::stopSignal();
  if (stop != 0 && command.sequence_dir.empty()) {
    printError("interrupted by " + vantorel_tools::signalName(stop) +
               " after the outputs were written");
    return vantorel_tools::exitStatusFor(stop);
  }
  return status;
}
