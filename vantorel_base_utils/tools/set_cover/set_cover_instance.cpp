// SPDX-License-Identifier: Apache-2.0
// Reading set cover instance files for vantorel_set_cover: the file itself, JSON and
// OR-Library text.
#include "set_cover_instance.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "vantorel_base_utils/regular_file.hpp"

namespace vantorel_tools {

namespace {

using nlohmann::json;

// Ids are read only in their one plain spelling, so that two keys of the file are never one
// candidate: "01", "+1" or " 1" beside "1" would otherwise merge two candidates' elements
// into one, and the cover check would pass a cover that the file's candidates do not make.
int candidateId(const std::string& key) {
  const bool digits_only = !key.empty() && std::all_of(key.begin(), key.end(), [](char ch) {
    return ch >= '0' && ch <= '9';
  });
  if (!digits_only || (key.size() > 1 && key[0] == '0')) {
    throw std::runtime_error("candidate id \"" + key +
                             "\" is not a plain decimal id (digits only, without a sign, spaces "
                             "or leading zeros)");
  }
  int id = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), id);
  if (error != std::errc() || end != key.data() + key.size()) {
    throw std::runtime_error("candidate id \"" + key + "\" is larger than " +
                             std::to_string(std::numeric_limits<int>::max()));
  }
  return id;
}

// A parser callback that reads every key of the top-level object as a candidate id and
// refuses a second key with the same id (the parser would keep only the last one).
class CandidateKeys {
 public:
  bool operator()(int depth, json::parse_event_t event, const json& parsed) {
    if (depth == 1 && event == json::parse_event_t::key) {
      const std::string& key = parsed.get_ref<const std::string&>();
      if (!seen_->insert(candidateId(key)).second) {
        throw std::runtime_error("candidate id \"" + key + "\" appears twice");
      }
    }
    return true;
  }

 private:
  // Shared by the copies the parser makes of its callback.
  std::shared_ptr<std::unordered_set<int>> seen_ = std::make_shared<std::unordered_set<int>>();
};

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

bool allStringElements(const json& doc) {
  for (const auto& [key, elements] : doc.items()) {
    for (const auto& e : elements) {
      if (!e.is_string()) {
        return false;
      }
    }
  }
  return true;
}

IntInstance intInstance(const json& doc) {
  IntInstance instance;
  for (const auto& [key, elements] : doc.items()) {
    auto& set = instance[candidateId(key)];
    for (const auto& e : elements) {
      set.insert(e.get<int>());
    }
  }
  return instance;
}

// Elements of mixed kinds are all named by their JSON text, so that the number 1 and the
// string "1" stay two elements.
StringInstance stringInstance(const json& doc) {
  const bool as_text = !allStringElements(doc);
  StringInstance instance;
  for (const auto& [key, elements] : doc.items()) {
    auto& set = instance[candidateId(key)];
    for (const auto& e : elements) {
      set.insert(as_text ? e.dump() : e.get<std::string>());
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
  const json doc = json::parse(text, CandidateKeys());
  if (!doc.is_object()) {
    throw std::runtime_error("a JSON instance must be an object from candidate id to elements");
  }
  for (const auto& [key, elements] : doc.items()) {
    if (!elements.is_array()) {
      throw std::runtime_error("candidate \"" + key + "\" must map to an array of elements");
    }
  }
  if (allIntegerElements(doc)) {
    return intInstance(doc);
  }
  return stringInstance(doc);
}

// Whitespace-separated numbers of an OR-Library file, read in place: the files run to
// millions of numbers, which a stream reads several times slower.
class Numbers {
 public:
  explicit Numbers(const std::string& text) : next_(text.data()), end_(text.data() + text.size()) {}

  // The next number as T; false at the end of the text or when the next word is not one
  // (a leading '+' is allowed, as C's own readers allow it).
  template <typename T>
  bool read(T& value) {
    while (next_ != end_ && std::isspace(static_cast<unsigned char>(*next_)) != 0) {
      ++next_;
    }
    const char* word = next_;
    while (next_ != end_ && std::isspace(static_cast<unsigned char>(*next_)) == 0) {
      ++next_;
    }
    if (word != next_ && *word == '+' && next_ - word > 1 && word[1] != '-') {
      ++word;
    }
    const auto [stop, error] = std::from_chars(word, next_, value);
    return word != next_ && error == std::errc() && stop == next_;
  }

 private:
  const char* next_;
  const char* end_;
};

long readCount(Numbers& in, const char* what, long max) {
  long value = -1;
  if (!in.read(value) || value < 0 || value > max) {
    throw std::runtime_error(std::string("OR-Library instance: bad ") + what);
  }
  return value;
}

// Reads the column costs: all 1, or else refused unless ignored. Returns whether any cost
// was other than 1.
bool readCosts(Numbers& in, long columns, const InstanceReadOptions& options) {
  bool other_than_one = false;
  for (long j = 1; j <= columns; ++j) {
    double cost = 0.0;
    if (!in.read(cost) || !std::isfinite(cost)) {
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
  Numbers in(text);
  constexpr long kLimit = 10'000'000;
  const long rows = readCount(in, "row count", kLimit);
  const long columns = readCount(in, "column count", kLimit);
  SetCoverInput input;
  input.costs_ignored = readCosts(in, columns, options);
  std::vector<std::set<int>> rows_of_column(static_cast<std::size_t>(columns) + 1);
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
      std::set<int>& rows_here = rows_of_column[static_cast<std::size_t>(column)];
      rows_here.insert(rows_here.end(), static_cast<int>(row));  // rows ascend
    }
  }
  IntInstance instance;
  for (std::size_t column = 1; column < rows_of_column.size(); ++column) {
    if (!rows_of_column[column].empty()) {  // a column that covers no row is no candidate
      instance.emplace_hint(instance.end(), static_cast<int>(column),
                            std::move(rows_of_column[column]));
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
