#include "set_cover_instance.hpp"

#include <cctype>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace vantorel_tools {

namespace {

using nlohmann::json;

int candidateId(const std::string& key) {
  std::size_t used = 0;
  long id = -1;
  try {
    id = std::stol(key, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != key.size() || id < 0 || id > std::numeric_limits<int>::max()) {
    throw std::runtime_error("candidate id \"" + key + "\" is not a non-negative int");
  }
  return static_cast<int>(id);
}

bool allIntegerElements(const json& doc) {
  for (const auto& [key, elements] : doc.items()) {
    for (const auto& e : elements) {
      if (!e.is_number_integer() || e < std::numeric_limits<int>::min() ||
          e > std::numeric_limits<int>::max()) {
        return false;
      }
    }
  }
  return true;
}

template <typename T>
std::map<int, std::set<T>> fromJson(const json& doc) {
  std::map<int, std::set<T>> instance;
  for (const auto& [key, elements] : doc.items()) {
    auto& set = instance[candidateId(key)];
    for (const auto& e : elements) {
      if constexpr (std::is_same_v<T, int>) {
        set.insert(e.template get<int>());
      } else {
        set.insert(e.is_string() ? e.template get<std::string>() : e.dump());
      }
    }
  }
  return instance;
}

std::variant<IntInstance, StringInstance> parseJson(const std::string& text) {
  const json doc = json::parse(text);
  if (!doc.is_object()) {
    throw std::runtime_error("a JSON instance must be an object from candidate id to elements");
  }
  for (const auto& [key, elements] : doc.items()) {
    if (!elements.is_array()) {
      throw std::runtime_error("candidate \"" + key + "\" must map to an array of elements");
    }
  }
  if (allIntegerElements(doc)) {
    return fromJson<int>(doc);
  }
  return fromJson<std::string>(doc);
}

long readCount(std::istream& in, const char* what, long max) {
  long value = -1;
  if (!(in >> value) || value < 0 || value > max) {
    throw std::runtime_error(std::string("OR-Library instance: bad ") + what);
  }
  return value;
}

IntInstance parseOrLibrary(const std::string& text) {
  std::istringstream in(text);
  constexpr long kLimit = 10'000'000;
  const long rows = readCount(in, "row count", kLimit);
  const long columns = readCount(in, "column count", kLimit);
  for (long j = 0; j < columns; ++j) {
    double cost = 0.0;
    if (!(in >> cost)) {
      throw std::runtime_error("OR-Library instance: missing column cost");
    }
  }
  IntInstance instance;
  for (long row = 1; row <= rows; ++row) {
    const long covering = readCount(in, "number of covering columns", columns);
    for (long k = 0; k < covering; ++k) {
      const long column = readCount(in, "column index", columns);
      if (column < 1) {
        throw std::runtime_error("OR-Library instance: column indices start at 1");
      }
      instance[static_cast<int>(column)].insert(static_cast<int>(row));
    }
  }
  return instance;
}

}  // namespace

std::variant<IntInstance, StringInstance> parseSetCoverInstance(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '{') {
    return parseJson(text);
  }
  return parseOrLibrary(text);
}

}  // namespace vantorel_tools
