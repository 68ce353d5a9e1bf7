// SPDX-License-Identifier: Apache-2.0
// The library's own grayscale PNG decoding against the image library's, on mutated PNG files.
// Whenever the own decoding gives an image, the image library must give the same pixels;
// where it declines, the image library alone decides, so there is nothing to compare. The
// silent libpng read must agree with the image library on whether the data decodes at all,
// and its 16-bit greyscale images must be the image library's, pixel for pixel.
//
// Random mutations rarely keep the check sums right, so each input is also tried with its
// chunk CRCs recomputed, and once more as one IDAT whose Adler-32 is recomputed over what the
// fast inflater makes of the deflate data: that reaches streams the inflater accepts and zlib
// may not.
#include <libdeflate.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "detection/png_fast_path/png_gray_decode.hpp"
#include "fuzz_support.hpp"
#include "io/byte_order.hpp"
#include "io/silent_png.hpp"

namespace silent_png = vantorel_base_utils::silent_png;
using vantorel_base_utils::bigEndian32;
namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSignatureSize = 8;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 20;  // keeps each run short

void putBigEndian32(std::uint32_t v, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  }
}

void appendChunk(Bytes& png, const char* type, const Bytes& body) {
  const std::size_t start = png.size();
  png.resize(start + 12 + body.size());
  putBigEndian32(static_cast<std::uint32_t>(body.size()), &png[start]);
  std::memcpy(&png[start + 4], type, 4);
  std::copy(body.begin(), body.end(), png.begin() + static_cast<long>(start + 8));
  putBigEndian32(libdeflate_crc32(0, &png[start + 4], body.size() + 4),
                 &png[start + 8 + body.size()]);
}

// Every whole chunk with its CRC recomputed; whatever follows the last whole chunk is kept.
Bytes withCrcsRepaired(Bytes png) {
  std::size_t pos = kSignatureSize;
  while (pos + 12 <= png.size()) {
    const std::uint32_t length = bigEndian32(&png[pos]);
    if (length > png.size() - pos - 12) {
      break;
    }
    putBigEndian32(libdeflate_crc32(0, &png[pos + 4], std::size_t{length} + 4),
                   &png[pos + 8 + length]);
    pos += std::size_t{length} + 12;
  }
  return png;
}

// The chunks up to the first IDAT, one IDAT holding every IDAT's data with the zlib trailer
// made right for what the fast inflater decodes, then IEND. Nothing when it decodes nothing.
std::optional<Bytes> withAdlerRepaired(const Bytes& png) {
  std::size_t pos = kSignatureSize;
  std::size_t first_idat = 0;
  Bytes stream;
  while (pos + 12 <= png.size()) {
    const std::uint32_t length = bigEndian32(&png[pos]);
    if (length > png.size() - pos - 12) {
      break;
    }
    if (std::memcmp(&png[pos + 4], "IDAT", 4) == 0) {
      first_idat = first_idat == 0 ? pos : first_idat;
      stream.insert(stream.end(), &png[pos + 8], &png[pos + 8 + length]);
    }
    pos += std::size_t{length} + 12;
  }
  if (first_idat == 0 || stream.size() < 2) {
    return std::nullopt;
  }
  Bytes out(std::size_t{1} << 22);
  std::size_t read = 0;
  std::size_t written = 0;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  const libdeflate_result result = libdeflate_deflate_decompress_ex(
      decompressor, stream.data() + 2, stream.size() - 2, out.data(), out.size(), &read, &written);
  libdeflate_free_decompressor(decompressor);
  if (result != LIBDEFLATE_SUCCESS) {
    return std::nullopt;
  }
  Bytes idat(stream.begin(), stream.begin() + static_cast<long>(2 + read));
  idat.resize(idat.size() + 4);
  putBigEndian32(libdeflate_adler32(1, out.data(), written), &idat[idat.size() - 4]);
  Bytes repaired(png.begin(), png.begin() + static_cast<long>(first_idat));
  repaired = withCrcsRepaired(repaired);
  appendChunk(repaired, "IDAT", idat);
  appendChunk(repaired, "IEND", {});
  return repaired;
}

bool declaresAtMost(const Bytes& png, std::uint64_t pixels) {
  return png.size() >= 24 && std::uint64_t{bigEndian32(&png[16])} * bigEndian32(&png[20]) <= pixels;
}

cv::Mat imageLibrary(const Bytes& png, int flags) {
  try {
    return cv::imdecode(
        cv::Mat(1, static_cast<int>(png.size()), CV_8UC1, const_cast<std::uint8_t*>(png.data())),
        flags);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

cv::Mat imageLibraryGray(const Bytes& png) {
  return imageLibrary(png, cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION);
}

void compareSilentRead(const Bytes& png) {
  const cv::Mat unchanged = imageLibrary(png, cv::IMREAD_UNCHANGED);
  VANTOREL_FUZZ_CHECK(silent_png::readsWithoutError(png.data(), png.size()) == !unchanged.empty());
  if (const std::optional<cv::Mat> depth =
          silent_png::decodeSixteenBitGray(png.data(), png.size())) {
    VANTOREL_FUZZ_CHECK(depth->empty() == unchanged.empty());
    if (!depth->empty()) {
      VANTOREL_FUZZ_CHECK(unchanged.type() == CV_16UC1 && depth->type() == CV_16UC1);
      VANTOREL_FUZZ_CHECK(unchanged.size() == depth->size());
      VANTOREL_FUZZ_CHECK(cv::countNonZero(unchanged != *depth) == 0);
    }
  }
}

void compare(const Bytes& png) {
  if (!declaresAtMost(png, kMaxPixels)) {
    return;  // callers refuse such sizes before decoding
  }
  compareSilentRead(png);
  const std::optional<cv::Mat> ours = ymp::decodeGrayPng(png.data(), png.size());
  if (!ours) {
    return;
  }
  const cv::Mat theirs = imageLibraryGray(png);
  VANTOREL_FUZZ_CHECK(!theirs.empty());
  VANTOREL_FUZZ_CHECK(theirs.type() == CV_8UC1 && ours->type() == CV_8UC1);
  VANTOREL_FUZZ_CHECK(theirs.size() == ours->size());
  VANTOREL_FUZZ_CHECK(cv::countNonZero(theirs != *ours) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kSignatureSize) {
    return 0;
  }
  const Bytes png(data, data + size);
  compare(png);
  compare(withCrcsRepaired(png));
  if (const std::optional<Bytes> repaired = withAdlerRepaired(png)) {
    compare(*repaired);
  }
  return 0;
}
