// SPDX-License-Identifier: Apache-2.0
// Fuzzed masks (PNG bytes or raw Base64 text) and boxes through the pixel sets and map.
//
// Input layout, all of it optional (missing bytes read as 0):
//   [n] then n times [cls flags x1 y1 w h]   (n taken mod 5; x1, y1 signed)
//   then segments [kind target len_lo len_hi bytes...]
// flags bit 0..2 swap a corner for NaN, infinity or 3e9; bit 3 declares a wrong mask width.
// kind bit 0: the bytes are an image and get Base64-encoded, else they are the text itself.
// target < 128: class mask of class (target % 4); else instance mask of detection target % 8.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "detection/mask_codec.hpp"
#include "fuzz_support.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;

namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return position_ >= size_; }
  std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  std::string bytes(std::size_t count) {
    const std::size_t take = std::min(count, size_ - std::min(position_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + position_), take);
    position_ += take;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

float hostile(std::uint8_t flags, float value) {
  if (flags & 1U) {
    return std::nanf("");
  }
  if (flags & 2U) {
    return std::numeric_limits<float>::infinity();
  }
  if (flags & 4U) {
    return 3e9F;
  }
  return value;
}

ymp::YoloDetection readDetection(Reader& in, std::size_t index, std::uint8_t& flags) {
  ymp::YoloDetection d;
  d.index = index;
  d.cls = in.byte() % 4;
  flags = in.byte();
  d.x1 = static_cast<float>(static_cast<std::int8_t>(in.byte()));
  d.y1 = static_cast<float>(static_cast<std::int8_t>(in.byte()));
  d.x2 = d.x1 + in.byte();
  d.y2 = d.y1 + in.byte();
  const std::uint8_t corner = flags >> 4U;
  float* corners[] = {&d.x1, &d.y1, &d.x2, &d.y2};
  *corners[corner % 4] = hostile(flags, *corners[corner % 4]);
  d.conf = 0.5F;
  d.area = std::max(d.x2 - d.x1, 0.F) * std::max(d.y2 - d.y1, 0.F);
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  ymp::ParsedYolo parsed;
  std::uint8_t flags[8] = {};
  const std::size_t count = in.byte() % 5;
  for (std::size_t i = 0; i < count; ++i) {
    parsed.detections.push_back(readDetection(in, i, flags[i]));
  }
  while (!in.done()) {
    const std::uint8_t kind = in.byte();
    const std::uint8_t target = in.byte();
    const std::size_t length = in.byte() | (std::size_t{in.byte()} << 8U);
    const std::string payload = in.bytes(length);
    const std::string text =
        (kind & 1U) ? ymp::encodeBase64(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                        payload.size())
                    : payload;
    if (target < 128) {
      parsed.masks_base64[std::to_string(target % 4)] = text;
      continue;
    }
    const std::size_t index = target % 8;
    ymp::InstanceMask mask{index, text, 1, 1};
    if (index < count) {
      const ymp::YoloDetection& d = parsed.detections[index];
      const bool wrong = (flags[index] & 8U) != 0;
      mask.width =
          static_cast<int>(std::trunc(std::fmin(std::fabs(d.x2 - d.x1), 300.F))) + (wrong ? 1 : 0);
      mask.height = static_cast<int>(std::trunc(std::fmin(std::fabs(d.y2 - d.y1), 300.F)));
    }
    parsed.instance_masks[index] = mask;
  }
  // The map, which skips the window records, must hold exactly the pixels of the records,
  // and fail exactly when they do.
  std::optional<ymp::InstancePixelMap> map;
  std::optional<ymp::InstancePixelMap> from_sets;
  try {
    map = ymp::buildInstancePixelMap(parsed, vantorel_fuzz::quietLogger());
    (void)ymp::instancePixelMapToJson(*map).dump();
  } catch (const std::exception&) {
    // broken instance masks refuse the frame by exception, never by a crash
  }
  try {
    from_sets.emplace();
    for (const auto& set : ymp::buildInstancePixelSets(parsed, vantorel_fuzz::quietLogger())) {
      if (!set.pixels.empty()) {
        (*from_sets)[std::to_string(set.cls)].push_back(set.pixels);
      }
    }
  } catch (const std::exception&) {
    from_sets.reset();
  }
  if (map != from_sets) {
    std::abort();
  }
  return 0;
}
