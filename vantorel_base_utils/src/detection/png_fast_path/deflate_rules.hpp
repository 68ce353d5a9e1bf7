// SPDX-License-Identifier: Apache-2.0
// The rules zlib's inflate enforces on a deflate stream; internal to the library.
#ifndef VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__DEFLATE_RULES_HPP_
#define VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__DEFLATE_RULES_HPP_

#include <cstddef>
#include <cstdint>

namespace vantorel_base_utils {
namespace yolo_mask_parser {

enum class FinalBlock {
  kWalk,             // check everything
  kInflatedAlready,  // the fast inflater decoded the stream whole, to exactly the end of `data`
};

// Whether zlib's inflate, with a 32 KiB window, decodes the raw deflate stream at the start
// of `data` to its final block without an error. On success `consumed` is the stream's
// length in bytes (its last byte included); the bytes after it are not looked at.
//
// With FinalBlock::kInflatedAlready the data of a final block with complete Huffman codes is
// not walked, since nothing zlib refuses can be in it that the inflater lets through; the
// stream's length is then not known and `consumed` is 0.
//
// No output is produced: the walk decodes the codes and symbols only. It exists because the
// fast inflater accepts a few streams zlib refuses (litlen symbols 286 and 287, distance
// symbols 30 and 31, more than 286 or 30 code lengths, incomplete code-length codes, unused
// codewords of single-codeword codes, code-length repeats past the end), and the masks must
// be refused exactly where the image library refuses them.
bool deflateStreamPassesZlibRules(const std::uint8_t* data, std::size_t size, std::size_t& consumed,
                                  FinalBlock final_block_data = FinalBlock::kWalk);

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__DETECTION__PNG_FAST_PATH__DEFLATE_RULES_HPP_
