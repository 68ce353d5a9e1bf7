// Arbitrary bytes as a JSON file. readJson never throws; a file that holds exactly one JSON
// value reads as that value, and anything unreadable as an empty object.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"
#include "vantorel_base_utils/json_utils.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = vantorel_fuzz::scratchFile(".json");
  vantorel_fuzz::writeFile(path, data, size);
  const nlohmann::json read = vantorel_base_utils::readJson(path, vantorel_fuzz::quietLogger());
  const nlohmann::json whole = nlohmann::json::parse(data, data + size, nullptr, false);
  if (!whole.is_discarded()) {
    VANTOREL_FUZZ_CHECK(read == whole);
  }
  return 0;
}
