// SPDX-License-Identifier: Apache-2.0
#include "input_file.hpp"

#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;

std::string readInputFile(const std::string& path, std::size_t max_bytes) {
  try {
    return vbu::readRegularFile(path, max_bytes);
  } catch (const vbu::FileReadError& e) {
    throw InputError(path + ": " + e.what());
  }
}

// The JSON library's own texts ("[json.exception.parse_error.101] ...") are for its
// developers; a user needs to know where the text breaks or that a member is wrong.
std::string jsonProblem(const nlohmann::json::exception& e) {
  if (const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&e)) {
    return "not valid JSON (at byte " + std::to_string(parse->byte) + ")";
  }
  return "a member is missing or has the wrong type";
}

}  // namespace vantorel_tools
