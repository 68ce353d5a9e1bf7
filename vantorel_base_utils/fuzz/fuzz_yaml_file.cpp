// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as a YAML file, read and converted to JSON, and read as a camera file.
// Refusals are exceptions (the YAML library's or std::runtime_error; InputError alone for the
// camera file reader), never crashes or runaway memory.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"

namespace {

void readAsCameraFile(const std::string& path) {
  try {
    (void)vantorel_base_utils::cameraInfoFromFile(path, vantorel_fuzz::quietLogger());
  } catch (const vantorel_base_utils::InputError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = vantorel_fuzz::scratchFile(".yaml");
  vantorel_fuzz::writeFile(path, data, size);
  readAsCameraFile(path);
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
