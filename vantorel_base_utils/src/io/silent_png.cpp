// SPDX-License-Identifier: Apache-2.0
// libpng driven from memory with handlers that print nothing: a read-through that tells
// whether the data decodes, and the decoding of 16-bit greyscale images.
#include "io/silent_png.hpp"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "io/byte_order.hpp"

namespace vantorel_base_utils {
namespace silent_png {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct MemoryInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
};

// The message OpenCV's own reader gives; it never reaches the console here.
void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (input->size - input->at < length) {
    png_error(png, "PNG input buffer is incomplete");
  }
  std::memcpy(out, input->data + input->at, length);
  input->at += length;
}

void ignoreWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// libpng requires an error handler not to return; the jump lands in runRead below.
[[noreturn]] void stopRead(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

// One read: libpng's structures, the input, and where the rows go. It lives in the caller's
// frame, so that nothing in it is lost to the jump out of libpng.
class Read {
 public:
  Read(const std::uint8_t* data, std::size_t size) : input_{data, size} {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, stopRead, ignoreWarning);
    if (png_ != nullptr) {
      info_ = png_create_info_struct(png_);
      end_info_ = png_create_info_struct(png_);
    }
  }
  Read(const Read&) = delete;
  Read& operator=(const Read&) = delete;
  ~Read() { png_destroy_read_struct(&png_, &info_, &end_info_); }

  bool ready() const { return png_ != nullptr && info_ != nullptr && end_info_ != nullptr; }

  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  png_infop end_info_ = nullptr;
  MemoryInput input_;
  std::vector<png_byte> row;    // one row at a time, when only reading through
  cv::Mat image;                // the whole image, when decoding
  std::vector<png_bytep> rows;  // its row pointers
};

enum class Into { kNothing, kSixteenBitGray };

// The reading itself, as OpenCV's decoder does it: header, the passes of every row, the
// chunks after the image data. False when libpng stopped with an error. Only trivially
// destructible objects live in this frame, so the jump back from libpng skips no destructor;
// everything that outlives it is in `read`.
bool runRead(Read& read, Into into) {
  png_structp png = read.png_;
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_read_fn(png, &read.input_, readFromMemory);
  png_read_info(png, read.info_);
  if (into == Into::kSixteenBitGray && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    png_set_swap(png);  // PNG stores samples big-endian
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, read.info_);
  const png_uint_32 height = png_get_image_height(png, read.info_);
  if (into == Into::kSixteenBitGray) {
    read.image.create(static_cast<int>(height),
                      static_cast<int>(png_get_image_width(png, read.info_)), CV_16UC1);
    read.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) {
      read.rows[y] = read.image.ptr<png_byte>(static_cast<int>(y));
    }
    png_read_image(png, read.rows.data());
  } else {
    read.row.resize(png_get_rowbytes(png, read.info_));
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, read.row.data(), nullptr);
      }
    }
  }
  png_read_end(png, read.end_info_);
  return true;
}

bool isSixteenBitGray(const std::uint8_t* data, std::size_t size) {
  static constexpr std::size_t kIhdrEnd = 33;  // signature, IHDR length, type, body, CRC
  return size >= kIhdrEnd && isPng(data, size) && std::memcmp(data + 12, "IHDR", 4) == 0 &&
         data[24] == 16 && data[25] == 0;
}

// The sizes OpenCV's decoding refuses before it reads a pixel (its default limits).
bool beyondOpenCvLimits(const std::uint8_t* data) {
  constexpr std::uint64_t kMaxSide = std::uint64_t{1} << 20;
  constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 30;
  const std::uint64_t width = bigEndian32(data + 16);
  const std::uint64_t height = bigEndian32(data + 20);
  return width > kMaxSide || height > kMaxSide || width * height > kMaxPixels;
}

}  // namespace

bool isPng(const std::uint8_t* data, std::size_t size) {
  return size >= sizeof(kSignature) && std::memcmp(data, kSignature, sizeof(kSignature)) == 0;
}

bool readsWithoutError(const std::uint8_t* data, std::size_t size) {
  Read read(data, size);
  return read.ready() && runRead(read, Into::kNothing);
}

std::optional<cv::Mat> decodeSixteenBitGray(const std::uint8_t* data, std::size_t size) {
  if (!isSixteenBitGray(data, size)) {
    return std::nullopt;
  }
  if (beyondOpenCvLimits(data)) {
    return cv::Mat();
  }
  Read read(data, size);
  if (!read.ready() || !runRead(read, Into::kSixteenBitGray)) {
    return cv::Mat();
  }
  return std::move(read.image);
}

}  // namespace silent_png
}  // namespace vantorel_base_utils
