// SPDX-License-Identifier: Apache-2.0
// The instance pixel map as JSON: the document, and its text written without the document.
#include <array>
#include <charconv>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

namespace {

using Pixel = std::array<int, 2>;

// Appends text laid out as the JSON library's dump(indent) lays it out: compact for a
// negative indent; otherwise one element per line, `indent` spaces per level, ": " after keys.
class PixelMapWriter {
 public:
  PixelMapWriter(std::string& out, int indent) : out_(out), indent_(indent) {}

  void object(const InstancePixelMap& map, const std::function<void()>& flush) {
    if (map.empty()) {
      out_ += "{}";
      return;
    }
    out_ += '{';
    bool first = true;
    for (const auto& [key, instances] : map) {
      separate(first, 1);
      // The JSON library escapes keys (and refuses invalid UTF-8) exactly as its dump does.
      out_ += nlohmann::json(key).dump();
      out_ += colon();
      out_ += '{';
      newline(2);
      out_ += "\"dirts\"";
      out_ += colon();
      instanceList(instances, flush);
      close('}', 1);
    }
    close('}', 0);
  }

 private:
  void instanceList(const std::vector<std::vector<Pixel>>& instances,
                    const std::function<void()>& flush) {
    if (instances.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    bool first = true;
    for (const auto& pixels : instances) {
      separate(first, 3);
      pixelList(pixels);
      flush();
    }
    close(']', 2);
  }

  void pixelList(const std::vector<Pixel>& pixels) {
    if (pixels.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    bool first = true;
    for (const Pixel& pixel : pixels) {
      separate(first, 4);
      out_ += '[';
      newline(5);
      number(pixel[0]);
      out_ += ',';
      newline(5);
      number(pixel[1]);
      close(']', 4);
    }
    close(']', 3);
  }

  // A new line indented to `level`, when indenting.
  void newline(int level) {
    if (indent_ >= 0) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(indent_) * static_cast<std::size_t>(level), ' ');
    }
  }

  // Before an element at `level`: a comma unless it is the first, then its line.
  void separate(bool& first, int level) {
    if (!first) {
      out_ += ',';
    }
    first = false;
    newline(level);
  }

  void close(char bracket, int level) {
    newline(level);
    out_ += bracket;
  }

  const char* colon() const { return indent_ >= 0 ? ": " : ":"; }

  void number(int value) {
    std::array<char, 12> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out_.append(digits.data(), end);
  }

  std::string& out_;
  int indent_;
};

}  // namespace

nlohmann::json instancePixelMapToJson(const InstancePixelMap& map) {
  using Array = nlohmann::json::array_t;
  // Built from the JSON library's array type directly: its initializer-list constructor
  // inspects and copies every element, which dominated the cost for large masks.
  nlohmann::json document = nlohmann::json::object();
  for (const auto& [key, instances] : map) {
    Array dirts;
    dirts.reserve(instances.size());
    for (const auto& pixels : instances) {
      Array instance;
      instance.reserve(pixels.size());
      for (const Pixel& pixel : pixels) {
        instance.emplace_back(Array{nlohmann::json(pixel[0]), nlohmann::json(pixel[1])});
      }
      dirts.emplace_back(std::move(instance));
    }
    document[key] = nlohmann::json::object({{"dirts", std::move(dirts)}});
  }
  return document;
}

std::string instancePixelMapToJsonText(const InstancePixelMap& map, int indent) {
  std::string text;
  PixelMapWriter(text, indent).object(map, [] {});
  return text;
}

void writeInstancePixelMapJson(std::ostream& out, const InstancePixelMap& map, int indent) {
  // Written one instance at a time, so the text is never held whole.
  std::string text;
  PixelMapWriter(text, indent).object(map, [&] {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  });
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
