// SPDX-License-Identifier: Apache-2.0
// A walk over a deflate stream that refuses exactly what zlib's inflate refuses.
#include "detection/png_fast_path/deflate_rules.hpp"

#include <array>
#include <cstdint>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

constexpr std::size_t kMaxCodeLength = 15;
constexpr std::size_t kFastBits = 9;  // codewords up to this length are found with one look-up
constexpr std::size_t kLiteralLengthSymbols = 288;
constexpr std::size_t kDistanceSymbols = 32;
constexpr std::uint32_t kMaxLiteralLengthCodes = 286;  // zlib refuses larger HLIT counts
constexpr std::uint32_t kMaxDistanceCodes = 30;
constexpr int kEndOfBlock = 256;
constexpr int kInvalid = -1;  // a codeword the code does not assign, or input ran out

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                         4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the lengths of the code-length code.
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

// Least significant bit first, as deflate packs them.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) : next_(data), end_(data + size) {}

  // Tops the buffer up to at least 57 bits, or to whatever input is left.
  void refill() {
    while (count_ <= 56 && next_ != end_) {
      buffer_ |= std::uint64_t{*next_++} << count_;
      count_ += 8;
    }
  }
  bool has(int n) {
    refill();
    return count_ >= n;
  }
  std::uint64_t peek() const { return buffer_; }
  int available() const { return count_; }
  void drop(int n) {
    buffer_ >>= n;
    count_ -= n;
  }
  // n <= 32 bits; false when the input ends first.
  bool read(int n, std::uint32_t& value) {
    if (!has(n)) {
      return false;
    }
    value = static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << n) - 1));
    drop(n);
    return true;
  }
  // Drops the rest of the current byte and hands back the whole bytes still buffered.
  void alignToByte() {
    drop(count_ % 8);
    next_ -= count_ / 8;
    buffer_ = 0;
    count_ = 0;
  }
  const std::uint8_t* position() const { return next_; }
  std::size_t bytesLeft() const { return static_cast<std::size_t>(end_ - next_); }
  void skipBytes(std::size_t n) { next_ += n; }

 private:
  const std::uint8_t* next_;
  const std::uint8_t* end_;
  std::uint64_t buffer_ = 0;
  int count_ = 0;
};

// A canonical Huffman code as zlib accepts it, with a look-up table for short codewords.
struct HuffmanCode {
  std::array<std::uint16_t, kMaxCodeLength + 1> count{};      // codewords of each length
  std::array<std::uint16_t, kLiteralLengthSymbols> symbol{};  // by codeword order
  std::array<std::uint16_t, 1 << kFastBits> fast{};  // (symbol << 4) | length; 0: look further
  bool complete = false;                             // every codeword assigned
};

enum class CodeKind { kCodeLengths, kLiteralLength, kDistance };

std::uint32_t reverseBits(std::uint32_t code, int length) {
  std::uint32_t reversed = 0;
  for (int i = 0; i < length; ++i) {
    reversed = (reversed << 1) | ((code >> i) & 1U);
  }
  return reversed;
}

// zlib's inflate_table rules: no over-subscribed code; an incomplete one only for the
// literal/length and distance codes, and then only a single codeword of length 1; an empty
// distance code is accepted, but decoding any distance with it is an error.
bool buildCode(const std::uint8_t* lengths, std::size_t symbols, CodeKind kind, HuffmanCode& code) {
  code = HuffmanCode{};
  for (std::size_t s = 0; s < symbols; ++s) {
    ++code.count[lengths[s]];
  }
  code.count[0] = 0;
  std::size_t longest = 0;
  for (std::size_t length = 1; length <= kMaxCodeLength; ++length) {
    longest = code.count[length] != 0 ? length : longest;
  }
  if (longest == 0) {
    return kind == CodeKind::kDistance;
  }
  int left = 1;
  for (std::size_t length = 1; length <= kMaxCodeLength; ++length) {
    left = (left << 1) - code.count[length];
    if (left < 0) {
      return false;
    }
  }
  if (left > 0 && (kind == CodeKind::kCodeLengths || longest != 1)) {
    return false;
  }
  code.complete = left == 0;
  std::array<std::uint16_t, kMaxCodeLength + 2> offset{};
  for (std::size_t length = 1; length <= kMaxCodeLength; ++length) {
    offset[length + 1] = static_cast<std::uint16_t>(offset[length] + code.count[length]);
  }
  std::array<std::uint32_t, kMaxCodeLength + 1> next_code{};
  std::uint32_t value = 0;
  for (std::size_t length = 1; length <= kMaxCodeLength; ++length) {  // canonical first codes
    next_code[length] = value;
    value = (value + code.count[length]) << 1;
  }
  for (std::size_t s = 0; s < symbols; ++s) {
    const std::size_t length = lengths[s];
    if (length == 0) {
      continue;
    }
    code.symbol[offset[length]++] = static_cast<std::uint16_t>(s);
    if (length <= kFastBits) {
      const std::uint32_t reversed = reverseBits(next_code[length], static_cast<int>(length));
      for (std::uint32_t i = reversed; i < (1U << kFastBits); i += 1U << length) {
        code.fast[i] = static_cast<std::uint16_t>((s << 4) | length);
      }
    }
    ++next_code[length];
  }
  return true;
}

// The next symbol, or kInvalid for a codeword the code does not assign or missing input.
int decodeSymbol(BitReader& bits, const HuffmanCode& code) {
  bits.refill();
  const std::uint16_t entry = code.fast[bits.peek() & ((1U << kFastBits) - 1)];
  const int fast_length = entry & 15;
  if (entry != 0 && fast_length <= bits.available()) {
    bits.drop(fast_length);
    return entry >> 4;
  }
  // Canonical decoding one bit at a time: codewords of each length are consecutive numbers.
  int codeword = 0;
  int first = 0;
  int index = 0;
  for (std::size_t length = 1;
       length <= kMaxCodeLength && length <= static_cast<std::size_t>(bits.available()); ++length) {
    codeword |= static_cast<int>((bits.peek() >> (length - 1)) & 1U);
    const int count = code.count[length];
    if (codeword - first < count) {
      bits.drop(static_cast<int>(length));
      return code.symbol[static_cast<std::size_t>(index + codeword - first)];
    }
    index += count;
    first = (first + count) << 1;
    codeword <<= 1;
  }
  return kInvalid;
}

bool walkStoredBlock(BitReader& bits, std::uint64_t& produced) {
  bits.alignToByte();
  if (bits.bytesLeft() < 4) {
    return false;
  }
  const std::uint8_t* p = bits.position();
  const std::uint32_t length = p[0] | (std::uint32_t{p[1]} << 8);
  const std::uint32_t complement = p[2] | (std::uint32_t{p[3]} << 8);
  if (length != (~complement & 0xFFFFU) || bits.bytesLeft() - 4 < length) {
    return false;
  }
  bits.skipBytes(4 + std::size_t{length});
  produced += length;
  return true;
}

bool walkCompressedData(BitReader& bits, const HuffmanCode& literals, const HuffmanCode& distances,
                        std::uint64_t& produced) {
  for (;;) {
    const int symbol = decodeSymbol(bits, literals);
    if (symbol < kEndOfBlock) {
      if (symbol == kInvalid) {
        return false;
      }
      ++produced;
      continue;
    }
    if (symbol == kEndOfBlock) {
      return true;
    }
    const auto length_slot = static_cast<std::size_t>(symbol - kEndOfBlock - 1);
    if (length_slot >= kLengthBase.size()) {
      return false;  // symbols 286 and 287
    }
    std::uint32_t extra = 0;
    if (!bits.read(kLengthExtra[length_slot], extra)) {
      return false;
    }
    const std::uint32_t length = kLengthBase[length_slot] + extra;
    const int distance_symbol = decodeSymbol(bits, distances);
    const auto distance_slot = static_cast<std::size_t>(distance_symbol);
    if (distance_symbol == kInvalid || distance_slot >= kDistanceBase.size() ||
        !bits.read(kDistanceExtra[distance_slot], extra)) {
      return false;
    }
    if (kDistanceBase[distance_slot] + extra > produced) {
      return false;  // "invalid distance too far back"
    }
    produced += length;
  }
}

const HuffmanCode& fixedLiteralCode() {
  static const HuffmanCode code = [] {
    std::array<std::uint8_t, kLiteralLengthSymbols> lengths{};
    for (std::size_t s = 0; s < lengths.size(); ++s) {
      lengths[s] = s < 144 ? 8 : (s < 256 ? 9 : (s < 280 ? 7 : 8));
    }
    HuffmanCode built;
    buildCode(lengths.data(), kLiteralLengthSymbols, CodeKind::kLiteralLength, built);
    return built;
  }();
  return code;
}

const HuffmanCode& fixedDistanceCode() {
  static const HuffmanCode code = [] {
    std::array<std::uint8_t, kDistanceSymbols> lengths{};
    lengths.fill(5);
    HuffmanCode built;
    buildCode(lengths.data(), kDistanceSymbols, CodeKind::kDistance, built);
    return built;
  }();
  return code;
}

// The code lengths of a dynamic block, with zlib's checks on counts and repeats.
bool readDynamicCodes(BitReader& bits, HuffmanCode& literals, HuffmanCode& distances) {
  std::uint32_t literal_count = 0;
  std::uint32_t distance_count = 0;
  std::uint32_t length_code_count = 0;
  if (!bits.read(5, literal_count) || !bits.read(5, distance_count) ||
      !bits.read(4, length_code_count)) {
    return false;
  }
  literal_count += 257;
  distance_count += 1;
  length_code_count += 4;
  if (literal_count > kMaxLiteralLengthCodes || distance_count > kMaxDistanceCodes) {
    return false;
  }
  std::array<std::uint8_t, 19> length_code_lengths{};
  for (std::uint32_t i = 0; i < length_code_count; ++i) {
    std::uint32_t length = 0;
    if (!bits.read(3, length)) {
      return false;
    }
    length_code_lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(length);
  }
  HuffmanCode length_code;
  if (!buildCode(length_code_lengths.data(), 19, CodeKind::kCodeLengths, length_code)) {
    return false;
  }
  std::array<std::uint8_t, kMaxLiteralLengthCodes + kMaxDistanceCodes> lengths{};
  const std::uint32_t total = literal_count + distance_count;
  std::uint32_t have = 0;
  while (have < total) {
    const int symbol = decodeSymbol(bits, length_code);
    if (symbol == kInvalid) {
      return false;
    }
    if (symbol < 16) {
      lengths[have++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    std::uint8_t repeated = 0;
    std::uint32_t repeat = 0;
    bool read_ok = false;
    if (symbol == 16) {
      if (have == 0) {
        return false;
      }
      repeated = lengths[have - 1];
      read_ok = bits.read(2, repeat);
      repeat += 3;
    } else if (symbol == 17) {
      read_ok = bits.read(3, repeat);
      repeat += 3;
    } else {
      read_ok = bits.read(7, repeat);
      repeat += 11;
    }
    if (!read_ok || have + repeat > total) {
      return false;
    }
    for (std::uint32_t i = 0; i < repeat; ++i) {
      lengths[have++] = repeated;
    }
  }
  if (lengths[kEndOfBlock] == 0) {
    return false;
  }
  return buildCode(lengths.data(), literal_count, CodeKind::kLiteralLength, literals) &&
         buildCode(lengths.data() + literal_count, distance_count, CodeKind::kDistance, distances);
}

}  // namespace

bool deflateStreamPassesZlibRules(const std::uint8_t* data, std::size_t size, std::size_t& consumed,
                                  FinalBlock final_block_data) {
  BitReader bits(data, size);
  std::uint64_t produced = 0;
  HuffmanCode literals;
  HuffmanCode distances;
  for (;;) {
    std::uint32_t header = 0;
    if (!bits.read(3, header)) {
      return false;
    }
    const bool final_block = (header & 1U) != 0;
    bool block_ok = false;
    switch (header >> 1) {
      case 0:
        block_ok = walkStoredBlock(bits, produced);
        break;
      case 1:
        block_ok = walkCompressedData(bits, fixedLiteralCode(), fixedDistanceCode(), produced);
        break;
      case 2:
        if (!readDynamicCodes(bits, literals, distances)) {
          return false;
        }
        // With complete codes over at most 286 and 30 symbols every codeword is a symbol
        // zlib accepts; only the distances remain, which the inflater checked as zlib does.
        if (final_block && final_block_data == FinalBlock::kInflatedAlready && literals.complete &&
            distances.complete) {
          consumed = 0;
          return true;
        }
        block_ok = walkCompressedData(bits, literals, distances, produced);
        break;
      default:
        return false;  // "invalid block type"
    }
    if (!block_ok) {
      return false;
    }
    if (final_block) {
      bits.alignToByte();
      consumed = static_cast<std::size_t>(bits.position() - data);
      return true;
    }
  }
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
