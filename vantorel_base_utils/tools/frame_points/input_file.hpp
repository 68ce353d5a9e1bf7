// SPDX-License-Identifier: Apache-2.0
// The frame tool's input files: how a problem with one is reported, and how one is read.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__INPUT_FILE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__INPUT_FILE_HPP_

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace vantorel_tools {

// An input problem, already phrased for the user: "<file>: <what is wrong>".
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole regular file at `path` of at most `max_bytes` bytes; throws InputError naming it.
std::string readInputFile(const std::string& path, std::size_t max_bytes);

// What is wrong with a JSON text or document, in words for a user of the tool.
std::string jsonProblem(const nlohmann::json::exception& e);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__INPUT_FILE_HPP_
