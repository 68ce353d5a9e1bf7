// SPDX-License-Identifier: Apache-2.0
// Reading set cover instance files for vantorel_set_cover: the file itself, JSON and
// OR-Library text.
#include "set_cover_instance.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "vantorel_base_utils/regular_file.hpp"

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

// The JSON library converts and prints values recursively, so nesting is bounded before
// anything is parsed. Brackets inside strings do not count.
void checkNestingDepth(const std::string& text) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char ch : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (ch == '\\') {
        escaped = true;
      } else if (ch == '"') {
        in_string = false;
      }
      continue;
    }
    if (ch == '"') {
      in_string = true;
    } else if (ch == '[' || ch == '{') {
      if (++depth > kMaxJsonDepth) {
        throw std::runtime_error("JSON instance nested deeper than " +
                                 std::to_string(kMaxJsonDepth) + " levels");
      }
    } else if (ch == ']' || ch == '}') {
      --depth;
    }
  }
}

std::variant<IntInstance, StringInstance> parseJson(const std::string& text) {
  checkNestingDepth(text);
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

// Reads the column costs: all 1, or else refused unless ignored. Returns whether any cost
// was other than 1.
bool readCosts(std::istream& in, long columns, const InstanceReadOptions& options) {
  bool other_than_one = false;
  for (long j = 1; j <= columns; ++j) {
    double cost = 0.0;
    if (!(in >> cost)) {
      throw std::runtime_error("OR-Library instance: missing column cost");
    }
    if (cost != 1.0 && !other_than_one && !options.ignore_costs) {
      std::ostringstream message;
      message << "OR-Library instance: column " << j << " costs " << cost
              << "; costs other than 1 are not supported (the tool minimises the number of "
                 "columns; pass --ignore-costs to solve the instance as if every cost were 1)";
      throw std::runtime_error(message.str());
    }
    other_than_one = other_than_one || cost != 1.0;
  }
  return other_than_one;
}

SetCoverInput parseOrLibrary(const std::string& text, const InstanceReadOptions& options) {
  std::istringstream in(text);
  constexpr long kLimit = 10'000'000;
  const long rows = readCount(in, "row count", kLimit);
  const long columns = readCount(in, "column count", kLimit);
  SetCoverInput input;
  input.costs_ignored = readCosts(in, columns, options);
  IntInstance instance;
  for (long row = 1; row <= rows; ++row) {
    const long covering = readCount(in, "number of covering columns", columns);
    if (covering == 0) {
      throw std::runtime_error("OR-Library instance: row " + std::to_string(row) +
                               " is covered by no column, so the instance has no cover");
    }
    for (long k = 0; k < covering; ++k) {
      const long column = readCount(in, "column index", columns);
      if (column < 1) {
        throw std::runtime_error("OR-Library instance: column indices start at 1");
      }
      instance[static_cast<int>(column)].insert(static_cast<int>(row));
    }
  }
  input.instance = std::move(instance);
  return input;
}

}  // namespace

std::string readInstanceFile(const std::string& path) {
  return vantorel_base_utils::readRegularFile(path, kMaxInstanceBytes);
}

SetCoverInput parseSetCoverInstance(const std::string& text, const InstanceReadOptions& options) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '{') {
    SetCoverInput input;
    input.instance = parseJson(text);
    return input;
  }
  return parseOrLibrary(text, options);
}

}  // namespace vantorel_tools
