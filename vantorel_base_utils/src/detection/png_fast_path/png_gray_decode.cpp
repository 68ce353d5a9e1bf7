// SPDX-License-Identifier: Apache-2.0
// Grayscale PNG decoding: chunk checks, one inflate call over the whole image data, row
// unfiltering. What the image library would refuse or treat otherwise is left to it.
#include "detection/png_fast_path/png_gray_decode.hpp"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "detection/png_fast_path/deflate_rules.hpp"
#include "io/byte_order.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kIhdr = 0x49484452;
constexpr std::uint32_t kIdat = 0x49444154;
constexpr std::uint32_t kIend = 0x49454E44;
// The PNG reader's default limits; it refuses larger images and chunks.
constexpr std::uint32_t kMaxSide = 1000000;
constexpr std::uint32_t kMaxChunkLength = 8000000;
enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

struct Chunk {
  std::uint32_t type = 0;
  const std::uint8_t* body = nullptr;
  std::uint32_t length = 0;
};

// The chunk at `pos`, when it lies wholly inside the data and its check sum is right.
std::optional<Chunk> readChunk(const std::uint8_t* data, std::size_t size, std::size_t& pos) {
  if (size - pos < 12) {
    return std::nullopt;
  }
  Chunk chunk;
  chunk.length = bigEndian32(data + pos);
  chunk.type = bigEndian32(data + pos + 4);
  if (chunk.length > kMaxChunkLength || size - pos - 12 < chunk.length) {
    return std::nullopt;
  }
  chunk.body = data + pos + 8;
  const std::uint32_t crc = bigEndian32(chunk.body + chunk.length);
  if (libdeflate_crc32(0, data + pos + 4, std::size_t{chunk.length} + 4) != crc) {
    return std::nullopt;
  }
  pos += std::size_t{chunk.length} + 12;
  return chunk;
}

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bit_depth = 0;
};

std::optional<Header> grayHeader(const Chunk& ihdr) {
  if (ihdr.type != kIhdr || ihdr.length != 13) {
    return std::nullopt;
  }
  Header header;
  header.width = bigEndian32(ihdr.body);
  header.height = bigEndian32(ihdr.body + 4);
  header.bit_depth = ihdr.body[8];
  const bool gray = ihdr.body[9] == 0;
  const bool plain = ihdr.body[10] == 0 && ihdr.body[11] == 0 && ihdr.body[12] == 0;
  const bool depth_ok = header.bit_depth == 1 || header.bit_depth == 2 || header.bit_depth == 4 ||
                        header.bit_depth == 8;
  const bool size_ok = header.width >= 1 && header.width <= kMaxSide && header.height >= 1 &&
                       header.height <= kMaxSide;
  if (!gray || !plain || !depth_ok || !size_ok) {
    return std::nullopt;
  }
  return header;
}

// The image library's size limits can be lowered through its environment; then only the
// library itself knows what it accepts.
bool imageLibraryLimitsAreDefault() {
  static const bool untouched = std::getenv("OPENCV_IO_MAX_IMAGE_WIDTH") == nullptr &&
                                std::getenv("OPENCV_IO_MAX_IMAGE_HEIGHT") == nullptr &&
                                std::getenv("OPENCV_IO_MAX_IMAGE_PIXELS") == nullptr;
  return untouched;
}

struct Decompressor {
  libdeflate_decompressor* handle = libdeflate_alloc_decompressor();
  ~Decompressor() { libdeflate_free_decompressor(handle); }
};

// The zlib stream inflated to exactly `expected` bytes, or false. Besides the inflater's own
// checks (Adler-32 included), the header must declare the 32 KiB window, for which the
// distances the inflater allows are those zlib allows, and the deflate data must follow
// zlib's rules to the stream's last byte.
bool inflateExactly(const std::uint8_t* stream, std::size_t size, std::uint8_t* out,
                    std::size_t expected) {
  if (size < 6) {
    return false;
  }
  const unsigned header = (unsigned{stream[0]} << 8) | stream[1];
  const bool deflate_32k = stream[0] == 0x78;  // method 8, window 2^15
  if (!deflate_32k || header % 31 != 0 || (stream[1] & 0x20) != 0) {
    return false;
  }
  Decompressor decompressor;
  if (decompressor.handle == nullptr) {
    return false;
  }
  std::size_t read = 0;
  std::size_t written = 0;
  const libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor.handle, stream, size,
                                                                 out, expected, &read, &written);
  if (result != LIBDEFLATE_SUCCESS || read != size || written != expected) {
    return false;
  }
  // The inflater read exactly `size` bytes, so the deflate data ends 4 bytes before them.
  std::size_t deflate_length = 0;
  return deflateStreamPassesZlibRules(stream + 2, size - 6, deflate_length,
                                      FinalBlock::kInflatedAlready);
}

// Unfiltering with one byte per pixel (every depth here), the row above being `above`. `out`
// may start before `raw` in the same buffer: each byte is read before anything at or past it
// is written.
void subRow(const std::uint8_t* raw, std::uint8_t* out, std::size_t n) {
  constexpr std::size_t kStep = 32;
  std::uint8_t left = 0;
  std::size_t i = 0;
  for (; i + kStep <= n; i += kStep) {  // mask rows are mostly runs repeating their left byte
    std::uint64_t words[kStep / 8];
    std::memcpy(words, raw + i, kStep);
    if ((words[0] | words[1] | words[2] | words[3]) == 0) {
      std::memset(out + i, left, kStep);
      continue;
    }
    for (std::size_t k = i; k < i + kStep; ++k) {
      left = static_cast<std::uint8_t>(left + raw[k]);
      out[k] = left;
    }
  }
  for (; i < n; ++i) {
    left = static_cast<std::uint8_t>(left + raw[i]);
    out[i] = left;
  }
}

void upRow(const std::uint8_t* raw, const std::uint8_t* above, std::uint8_t* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>(raw[i] + above[i]);
  }
}

void averageRow(const std::uint8_t* raw, const std::uint8_t* above, std::uint8_t* out,
                std::size_t n) {
  unsigned left = 0;
  for (std::size_t i = 0; i < n; ++i) {
    left = static_cast<std::uint8_t>(raw[i] + ((left + above[i]) >> 1));
    out[i] = static_cast<std::uint8_t>(left);
  }
}

void paethRow(const std::uint8_t* raw, const std::uint8_t* above, std::uint8_t* out,
              std::size_t n) {
  int left = 0;
  int upper_left = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int up = above[i];
    const int pa = std::abs(up - upper_left);
    const int pb = std::abs(left - upper_left);
    const int pc = std::abs(left + up - 2 * upper_left);
    const int predicted = (pa <= pb && pa <= pc) ? left : (pb <= pc ? up : upper_left);
    left = static_cast<std::uint8_t>(raw[i] + predicted);
    upper_left = up;
    out[i] = static_cast<std::uint8_t>(left);
  }
}

bool unfilterRow(std::uint8_t filter, const std::uint8_t* raw, const std::uint8_t* above,
                 std::uint8_t* out, std::size_t n) {
  switch (filter) {
    case kNone:
      std::memmove(out, raw, n);  // rows of 8 bits are unfiltered in place
      return true;
    case kSub:
      subRow(raw, out, n);
      return true;
    case kUp:
      upRow(raw, above, out, n);
      return true;
    case kAverage:
      averageRow(raw, above, out, n);
      return true;
    case kPaeth:
      paethRow(raw, above, out, n);
      return true;
    default:
      return false;  // the image library refuses unknown filter types
  }
}

// Samples of fewer than 8 bits widened to 8 the way the image library does: 1 -> 255,
// 2 bits times 0x55, 4 bits times 0x11.
void widenRow(const std::uint8_t* packed, int bit_depth, std::uint8_t* out, std::size_t width) {
  const unsigned mask = (1U << bit_depth) - 1;
  const unsigned scale = 255U / mask;
  const auto per_byte = static_cast<std::size_t>(8 / bit_depth);
  for (std::size_t x = 0; x < width; ++x) {
    const int shift = 8 - bit_depth * (1 + static_cast<int>(x % per_byte));
    out[x] = static_cast<std::uint8_t>(((packed[x / per_byte] >> shift) & mask) * scale);
  }
}

// Rows of 8 bits: the image data is inflated into the image's own storage and unfiltered
// there, each row moving one byte (its filter type) further left than the row before.
std::optional<cv::Mat> decode8BitInPlace(const Header& header, const std::uint8_t* stream,
                                         std::size_t stream_size) {
  const std::size_t width = header.width;
  const std::size_t filtered_size = (width + 1) * header.height;
  if (filtered_size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  cv::Mat storage(1, static_cast<int>(filtered_size), CV_8UC1);
  std::uint8_t* base = storage.data;
  if (!inflateExactly(stream, stream_size, base, filtered_size)) {
    return std::nullopt;
  }
  const std::vector<std::uint8_t> zeros(width, 0);
  const std::uint8_t* above = zeros.data();
  for (std::size_t r = 0; r < header.height; ++r) {
    const std::uint8_t* raw = base + r * (width + 1);
    std::uint8_t* row = base + r * width;
    if (!unfilterRow(raw[0], raw + 1, above, row, width)) {
      return std::nullopt;
    }
    above = row;
  }
  return cv::Mat(storage, cv::Rect(0, 0, static_cast<int>(width * header.height), 1))
      .reshape(1, static_cast<int>(header.height));
}

std::optional<cv::Mat> decodePacked(const Header& header, const std::uint8_t* stream,
                                    std::size_t stream_size) {
  const std::size_t width = header.width;
  const std::size_t row_bytes = (width * static_cast<std::size_t>(header.bit_depth) + 7) / 8;
  std::vector<std::uint8_t> filtered((row_bytes + 1) * header.height);
  if (!inflateExactly(stream, stream_size, filtered.data(), filtered.size())) {
    return std::nullopt;
  }
  cv::Mat image(static_cast<int>(header.height), static_cast<int>(header.width), CV_8UC1);
  std::vector<std::uint8_t> packed(2 * row_bytes);  // this row and the one above
  const std::vector<std::uint8_t> zeros(row_bytes, 0);
  const std::uint8_t* above = zeros.data();
  for (int r = 0; r < image.rows; ++r) {
    const std::uint8_t* raw = filtered.data() + static_cast<std::size_t>(r) * (row_bytes + 1);
    std::uint8_t* row = packed.data() + static_cast<std::size_t>(r % 2) * row_bytes;
    if (!unfilterRow(raw[0], raw + 1, above, row, row_bytes)) {
      return std::nullopt;
    }
    widenRow(row, header.bit_depth, image.ptr<std::uint8_t>(r), width);
    above = row;
  }
  return image;
}

}  // namespace

std::optional<cv::Mat> decodeGrayPng(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(kSignature) || std::memcmp(data, kSignature, sizeof(kSignature)) != 0 ||
      !imageLibraryLimitsAreDefault()) {
    return std::nullopt;
  }
  std::size_t pos = sizeof(kSignature);
  const std::optional<Chunk> ihdr = readChunk(data, size, pos);
  const std::optional<Header> header = ihdr ? grayHeader(*ihdr) : std::nullopt;
  if (!header) {
    return std::nullopt;
  }
  std::vector<Chunk> idats;
  std::optional<Chunk> chunk = readChunk(data, size, pos);
  while (chunk && chunk->type == kIdat) {
    idats.push_back(*chunk);
    chunk = readChunk(data, size, pos);
  }
  // Bytes after IEND are never read by the image library either.
  if (idats.empty() || !chunk || chunk->type != kIend || chunk->length != 0) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> joined;
  const std::uint8_t* stream = idats.front().body;
  std::size_t stream_size = idats.front().length;
  if (idats.size() > 1) {
    for (const Chunk& idat : idats) {
      joined.insert(joined.end(), idat.body, idat.body + idat.length);
    }
    stream = joined.data();
    stream_size = joined.size();
  }
  if (header->bit_depth != 8) {
    return decodePacked(*header, stream, stream_size);
  }
  return decode8BitInPlace(*header, stream, stream_size);
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
