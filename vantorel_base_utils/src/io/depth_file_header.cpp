// SPDX-License-Identifier: Apache-2.0
// Headers of depth image files (PNG, binary PGM, TIFF) read from their bytes, and the bytes
// decoded as OpenCV decodes them.
#include "io/depth_file_header.hpp"

#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include <opencv2/imgcodecs.hpp>

#include "io/byte_order.hpp"
#include "io/silent_png.hpp"

namespace vantorel_base_utils {
namespace depth_file {

namespace {

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  return vantorel_base_utils::bigEndian32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

// The image header that every PNG starts with (signature, then the IHDR chunk).
std::optional<DepthHeader> pngHeaderOf(const std::string& bytes) {
  static const std::string kStart("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  if (bytes.size() < 33 || bytes.compare(0, kStart.size(), kStart) != 0) {
    return std::nullopt;
  }
  DepthHeader header{bigEndian32(bytes, 16), bigEndian32(bytes, 20), "", ""};
  const int bit_depth = static_cast<unsigned char>(bytes[24]);
  const int colour_type = static_cast<unsigned char>(bytes[25]);  // 0: greyscale
  if (bit_depth != 16 || colour_type != 0) {
    header.not_depth = "depth image must be 16-bit single channel, got a PNG of bit depth " +
                       std::to_string(bit_depth) + " and colour type " +
                       std::to_string(colour_type);
  }
  return header;
}

// The numbers of a binary PGM header ("P5", width, height, maximum), each after white space
// and comments, as the format allows.
class PgmHeaderReader {
 public:
  explicit PgmHeaderReader(const std::string& bytes) : bytes_(bytes) {}

  std::optional<std::uint64_t> number() {
    skipSpaceAndComments();
    std::uint64_t value = 0;
    const std::size_t start = at_;
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
    while (at_ < bytes_.size() && std::isdigit(static_cast<unsigned char>(bytes_[at_])) != 0) {
      value = value * 10 + static_cast<std::uint64_t>(bytes_[at_++] - '0');
      if (value > kLargest) {
        return std::nullopt;
      }
    }
    return at_ > start ? std::optional<std::uint64_t>(value) : std::nullopt;
  }

 private:
  void skipSpaceAndComments() {
    while (at_ < bytes_.size()) {
      const char c = bytes_[at_];
      if (c == '#') {
        while (at_ < bytes_.size() && bytes_[at_] != '\n' && bytes_[at_] != '\r') {
          ++at_;
        }
      } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
        ++at_;
      } else {
        return;
      }
    }
  }

  const std::string& bytes_;
  std::size_t at_ = 2;  // after "P5"
};

std::optional<DepthHeader> pgmHeaderOf(const std::string& bytes) {
  if (bytes.size() < 3 || bytes.compare(0, 2, "P5") != 0 ||
      std::isspace(static_cast<unsigned char>(bytes[2])) == 0) {
    return std::nullopt;
  }
  PgmHeaderReader reader(bytes);
  const auto width = reader.number();
  const auto height = reader.number();
  const auto maximum = reader.number();
  if (!width || !height || !maximum) {
    return DepthHeader{0, 0, "", "PGM header without width, height and maximum"};
  }
  DepthHeader header{*width, *height, "", ""};
  if (*maximum <= 255) {
    header.not_depth = "depth image must be 16-bit single channel, got a PGM of maximum " +
                       std::to_string(*maximum);
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

std::optional<DepthHeader> tiffHeaderOf(const std::string& bytes) {
  const std::optional<TiffDirectory> directory = TiffDirectory::of(bytes);
  if (!directory) {
    return std::nullopt;
  }
  if (!directory->intact()) {
    return DepthHeader{0, 0, "", "TIFF image directory lies outside the file"};
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
    return DepthHeader{0, 0, "", "TIFF image size, strips or tiles not stated as single numbers"};
  }
  DepthHeader header{*width, *height, "", ""};
  const bool depth_samples =
      channels == 1u && ((bits == 16u && format == 1u) || (bits == 32u && format == 3u));
  constexpr std::uint32_t kTileStep = 16;  // tiles may overhang the image by less than this
  if (!depth_samples) {
    header.not_depth = "depth image must be single channel 16-bit unsigned or 32-bit float";
  }
  if ((*rows_per_strip > *height && *rows_per_strip != 0xFFFFFFFFU) ||
      *tile_width > *width + kTileStep || *tile_height > *height + kTileStep) {
    header.broken = "TIFF strips or tiles larger than the image";
  }
  return header;
}

}  // namespace

std::optional<DepthHeader> depthHeaderOf(const std::string& bytes) {
  for (const auto reader : {pngHeaderOf, pgmHeaderOf, tiffHeaderOf}) {
    if (std::optional<DepthHeader> header = reader(bytes)) {
      return header;
    }
  }
  return std::nullopt;
}

cv::Mat decodeUnchanged(const std::string& bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return cv::Mat();  // the decoder's buffer view counts bytes in int
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (std::optional<cv::Mat> depth = silent_png::decodeSixteenBitGray(data, bytes.size())) {
    return *std::move(depth);
  }
  if (silent_png::isPng(data, bytes.size()) && !silent_png::readsWithoutError(data, bytes.size())) {
    return cv::Mat();
  }
  try {
    const cv::_InputArray encoded(reinterpret_cast<const uchar*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    return cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return cv::Mat();  // a header OpenCV refuses by throwing: as unreadable as a truncated file
  }
}

}  // namespace depth_file
}  // namespace vantorel_base_utils
