// SPDX-License-Identifier: Apache-2.0
// Repeated member names found by one pass of the JSON library's event parser, which builds
// no document.
#include "io/repeated_json_member.hpp"

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantorel_base_utils {

namespace {

using nlohmann::json;

// One open array or object: the names seen so far, or the number of elements.
struct OpenValue {
  bool is_object = false;
  std::unordered_set<std::string> names;
  std::string current_name;
  std::size_t elements = 0;
};

class RepeatFinder : public nlohmann::json_sax<json> {
 public:
  bool null() override { return value(); }
  bool boolean(bool /*val*/) override { return value(); }
  bool number_integer(number_integer_t /*val*/) override { return value(); }
  bool number_unsigned(number_unsigned_t /*val*/) override { return value(); }
  bool number_float(number_float_t /*val*/, const string_t& /*s*/) override { return value(); }
  bool string(string_t& /*val*/) override { return value(); }
  bool binary(binary_t& /*val*/) override { return value(); }

  bool start_object(std::size_t /*elements*/) override {
    value();
    open_.push_back({true, {}, {}, 0});
    return true;
  }
  bool key(string_t& name) override {
    OpenValue& object = open_.back();
    object.current_name = name;
    if (!object.names.insert(name).second) {
      repeated_ = pathOfCurrentMember();
      return false;  // stops the parse
    }
    return true;
  }
  bool end_object() override {
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t /*elements*/) override {
    value();
    open_.push_back({false, {}, {}, 0});
    return true;
  }
  bool end_array() override {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& /*ex*/) override {
    return false;
  }

  const std::optional<std::string>& repeated() const { return repeated_; }

 private:
  // Counts an element of the enclosing array, so that a path can name its index.
  bool value() {
    if (!open_.empty() && !open_.back().is_object) {
      ++open_.back().elements;
    }
    return true;
  }

  std::string pathOfCurrentMember() const {
    std::string path;
    for (const OpenValue& open : open_) {
      if (open.is_object) {
        path += (path.empty() ? "" : ".") + open.current_name;
      } else {
        path += "[" + std::to_string(open.elements - 1) + "]";
      }
    }
    return path;
  }

  std::vector<OpenValue> open_;
  std::optional<std::string> repeated_;
};

}  // namespace

std::optional<std::string> firstRepeatedJsonMember(const std::string& text) {
  RepeatFinder finder;
  json::sax_parse(text, &finder);
  return finder.repeated();
}

}  // namespace vantorel_base_utils
