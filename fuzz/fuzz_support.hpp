// Shared set-up of the fuzz targets.
#ifndef VANTOREL_FUZZ__FUZZ_SUPPORT_HPP_
#define VANTOREL_FUZZ__FUZZ_SUPPORT_HPP_

#include <rclcpp/logger.hpp>

namespace vantorel_fuzz {

// A logger whose records are formatted in full (so format and argument mismatches still
// surface under the sanitizers) and then dropped instead of flooding the fuzzer's output.
const rclcpp::Logger& quietLogger();

}  // namespace vantorel_fuzz

#endif  // VANTOREL_FUZZ__FUZZ_SUPPORT_HPP_
