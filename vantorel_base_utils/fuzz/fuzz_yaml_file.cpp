// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a YAML file, read and converted to JSON. Refusals are exceptions
// (the YAML library's or std::runtime_error), never crashes or runaway memory.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = vantorel_fuzz::scratchFile(".yaml");
  vantorel_fuzz::writeFile(path, data, size);
  nlohmann::json json;
  try {
    json = vantorel_base_utils::readYamlToJson(path, vantorel_fuzz::quietLogger());
  } catch (const std::exception&) {
    return 0;
  }
  // YAML strings need not be valid UTF-8; writing them out must still not fail.
  (void)json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return 0;
}
