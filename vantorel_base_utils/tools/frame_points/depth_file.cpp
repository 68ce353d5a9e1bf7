// SPDX-License-Identifier: Apache-2.0
// Depth files of the frame tool: the header of a PNG or TIFF read and checked against the
// calibration before the image is decoded.
#include "depth_file.hpp"

#include <cstdint>
#include <optional>

#include <opencv2/imgcodecs.hpp>

#include "input_file.hpp"

namespace vantorel_tools {

namespace {

// What a depth file's header says, read before anything is decoded.
struct DepthHeader {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::string refusal;  // why its pixels are no depth image; empty when they are
};

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// The image header that every PNG starts with (signature, then the IHDR chunk).
std::optional<DepthHeader> pngHeaderOf(const std::string& bytes) {
  static const std::string kStart("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  if (bytes.size() < 33 || bytes.compare(0, kStart.size(), kStart) != 0) {
    return std::nullopt;
  }
  DepthHeader header{bigEndian32(bytes, 16), bigEndian32(bytes, 20), ""};
  const int bit_depth = static_cast<unsigned char>(bytes[24]);
  const int colour_type = static_cast<unsigned char>(bytes[25]);  // 0: greyscale
  if (bit_depth != 16 || colour_type != 0) {
    header.refusal = "depth image must be 16-bit single channel, got a PNG of bit depth " +
                     std::to_string(bit_depth) + " and colour type " + std::to_string(colour_type);
  }
  return header;
}

// The first image directory of a TIFF file, in the file's own byte order.
class TiffDirectory {
 public:
  static std::optional<TiffDirectory> of(const std::string& bytes) {
    if (bytes.size() < 8 || (bytes.compare(0, 4, std::string("II*\0", 4)) != 0 &&
                             bytes.compare(0, 4, std::string("MM\0*", 4)) != 0)) {
      return std::nullopt;
    }
    TiffDirectory directory(bytes);
    directory.at_ = directory.read(4, 4);
    return directory;
  }

  bool intact() const {
    return at_ <= bytes_.size() - 2 && read(at_, 2) * std::uint64_t{12} <= bytes_.size() - at_ - 2;
  }

  // A tag's single SHORT or LONG value; `fallback` when the tag is absent, nothing when it
  // holds something else (several values, other types).
  std::optional<std::uint32_t> value(std::uint16_t tag, std::uint32_t fallback) const {
    const std::uint32_t count = read(at_, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t entry = at_ + 2 + std::size_t{12} * i;
      if (read(entry, 2) != tag) {
        continue;
      }
      const std::uint32_t type = read(entry + 2, 2);
      if (read(entry + 4, 4) != 1 || (type != 3 && type != 4)) {
        return std::nullopt;
      }
      return read(entry + 8, type == 3 ? 2 : 4);
    }
    return fallback;
  }

 private:
  explicit TiffDirectory(const std::string& bytes) : bytes_(bytes), little_(bytes[0] == 'I') {}

  std::uint32_t read(std::size_t at, std::size_t size) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const auto byte = static_cast<unsigned char>(bytes_[at + (little_ ? size - 1 - i : i)]);
      value = (value << 8) | byte;
    }
    return value;
  }

  const std::string& bytes_;
  bool little_;
  std::size_t at_ = 0;
};

// Single-channel 16-bit unsigned or 32-bit float samples, and strips or tiles no larger than
// the image, since the decoder allocates one strip or tile before it reads the pixels.
std::optional<DepthHeader> tiffHeaderOf(const std::string& bytes) {
  const std::optional<TiffDirectory> directory = TiffDirectory::of(bytes);
  if (!directory) {
    return std::nullopt;
  }
  if (!directory->intact()) {
    return DepthHeader{0, 0, "TIFF image directory lies outside the file"};
  }
  const auto width = directory->value(256, 0);
  const auto height = directory->value(257, 0);
  const auto channels = directory->value(277, 1);
  const auto bits = directory->value(258, 1);
  const auto format = directory->value(339, 1);  // 1: unsigned integer, 3: IEEE float
  const auto rows_per_strip = directory->value(278, 0xFFFFFFFFU);
  const auto tile_width = directory->value(322, 0);
  const auto tile_height = directory->value(323, 0);
  if (!width || !height || !rows_per_strip || !tile_width || !tile_height) {
    return DepthHeader{0, 0, "TIFF image size, strips or tiles not stated as single numbers"};
  }
  DepthHeader header{*width, *height, ""};
  const bool depth_samples =
      channels == 1u && ((bits == 16u && format == 1u) || (bits == 32u && format == 3u));
  constexpr std::uint32_t kTileStep = 16;  // tiles may overhang the image by less than this
  if (!depth_samples) {
    header.refusal = "depth image must be single channel 16-bit unsigned or 32-bit float";
  } else if ((*rows_per_strip > *height && *rows_per_strip != 0xFFFFFFFFU) ||
             *tile_width > *width + kTileStep || *tile_height > *height + kTileStep) {
    header.refusal = "TIFF strips or tiles larger than the image";
  }
  return header;
}

std::string sizeMismatch(const std::string& path, std::uint64_t width, std::uint64_t height,
                         const sensor_msgs::msg::CameraInfo& camera) {
  return path + ": depth image is " + std::to_string(width) + "x" + std::to_string(height) +
         " but the calibration says " + std::to_string(camera.width) + "x" +
         std::to_string(camera.height);
}

}  // namespace

cv::Mat decodeDepthFile(const std::string& path, const std::string& bytes,
                        const sensor_msgs::msg::CameraInfo& camera) {
  std::optional<DepthHeader> header = pngHeaderOf(bytes);
  if (!header) {
    header = tiffHeaderOf(bytes);
  }
  if (!header) {
    throw InputError(path +
                     ": not a depth image (a 16-bit greyscale PNG, or 32-bit float "
                     "metres as a single-channel TIFF)");
  }
  if (!header->refusal.empty()) {
    throw InputError(path + ": " + header->refusal);
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
  if (depth.type() != CV_16UC1 && depth.type() != CV_32FC1) {
    throw InputError(path +
                     ": depth image must be 16-bit or 32-bit float single channel, got "
                     "OpenCV type " +
                     std::to_string(depth.type()));
  }
  if (depth.cols != static_cast<int>(camera.width) ||
      depth.rows != static_cast<int>(camera.height)) {
    throw InputError(sizeMismatch(path, static_cast<std::uint64_t>(depth.cols),
                                  static_cast<std::uint64_t>(depth.rows), camera));
  }
  return depth;
}

}  // namespace vantorel_tools
