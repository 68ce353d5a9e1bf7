// SPDX-License-Identifier: Apache-2.0
// How the library reports input it refuses, and input a call leaves out of its result.
//
// A function whose documentation names an exception type or a fixed message (the projection
// context's "camera_intrinsics invalid", the JSON library's own exceptions, the parser's
// length mismatch) throws exactly that. Everything else the library refuses is an InputError:
// what() names the input and says what is wrong with it, reason() tells the kind of problem
// for callers that act on it (drop the frame and go on, ask again, give up). Calls that go on
// past bad input (a class mask that does not decode) list what they left out as
// DroppedInput records in their result.
//
// Messages go through the rclcpp::Logger a caller passes. The console is written only by the
// console Logger, the timer reports and the integer program's one failure line, as their
// headers say. The PNG data the library hands to OpenCV is read through libpng silently
// first, so libpng's own "libpng error" lines never appear; what can still reach standard
// error from inside OpenCV is libpng's warning about a damaged ancillary chunk of a PNG that
// decodes all the same (a mask other than plain greyscale, a depth image other than 16-bit
// greyscale), and OpenCV's own line for BMP data its decoder throws on. Silencing those
// would mean replacing the OpenCV decoders that define what a mask or depth image holds.
#ifndef VANTOREL_BASE_UTILS__INPUT_ERROR_HPP_
#define VANTOREL_BASE_UTILS__INPUT_ERROR_HPP_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "vantorel_base_utils/visibility_control.hpp"

namespace vantorel_base_utils {

class VANTOREL_BASE_UTILS_PUBLIC InputError : public std::runtime_error {
 public:
  enum class Reason : std::int32_t {
    kUnreadable,    // a file missing, no regular file, larger than its bound, or failing to read
    kMalformed,     // text or bytes not in the expected form, or a member missing or mistyped
    kUnsupported,   // a well-formed input of a kind not taken here (an image format, a type)
    kSizeMismatch,  // an image or mask whose size disagrees with its camera or frame
    kNotFinite,     // a number not finite, or one that would make the results not finite
    kOutOfRange,    // a number outside the range accepted
    kOverLimit,     // more than a bound allows (a mask budget, a nesting depth, a row size)
  };

  // `input` names what was refused, as the message does: a file path, "masks_base64[3]",
  // "camera_to_arm_base"; `message` is the whole text what() returns.
  InputError(Reason reason, std::string input, const std::string& message)
      : std::runtime_error(message), reason_(reason), input_(std::move(input)) {}
  // Defined in the library, so that its type information is exported once and callers catch
  // what the library throws.
  ~InputError() override;

  Reason reason() const noexcept { return reason_; }
  const std::string& input() const noexcept { return input_; }

 private:
  Reason reason_;
  std::string input_;
};

// One piece of input a call left out of its result, and why. `collection` and `key` locate
// it ("masks_base64" and "3"); reason and message are those of the InputError it would have
// been had the call stopped there (message names the input: "masks_base64[3] PNG decode
// failed").
struct DroppedInput {
  std::string collection;
  std::string key;
  InputError::Reason reason = InputError::Reason::kMalformed;
  std::string message;
};

}  // namespace vantorel_base_utils

#endif  // VANTOREL_BASE_UTILS__INPUT_ERROR_HPP_
