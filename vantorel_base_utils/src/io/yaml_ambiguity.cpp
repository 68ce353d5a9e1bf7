// SPDX-License-Identifier: Apache-2.0
// Repeated keys and later documents of YAML text, found from the parser's events, so that
// aliases are never expanded and no node tree is built.
#include "io/yaml_ambiguity.hpp"

#include <cstddef>
#include <istream>
#include <string>
#include <unordered_map>
#include <vector>

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/parser.h>
#include <yaml-cpp/yaml.h>

#include "io/text_buffer.hpp"

namespace vantorel_base_utils {

namespace {

std::string lineOf(const YAML::Mark& mark) {
  return std::to_string(mark.line + 1);
}

// One open mapping or sequence. A mapping's nodes alternate between key and value.
struct OpenNode {
  bool is_map = false;
  bool at_key = true;
  std::unordered_map<std::string, YAML::Mark> keys;  // scalar keys seen, where first
  std::string current_key;                           // of the value being read
  std::size_t index = 0;                             // of the sequence element being read
};

class RepeatedKeyFinder : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark& mark) override { start_ = mark; }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override { nodeDone(); }
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override { nodeDone(); }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                const std::string& value) override {
    if (!open_.empty() && open_.back().is_map && open_.back().at_key) {
      key(mark, value);
    }
    nodeDone();
  }
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {
    open_.push_back({});
  }
  void OnSequenceEnd() override { closeNode(); }
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {
    OpenNode map;
    map.is_map = true;
    open_.push_back(std::move(map));
  }
  void OnMapEnd() override { closeNode(); }

  const std::optional<std::string>& repeated() const { return repeated_; }
  const YAML::Mark& start() const { return start_; }

 private:
  void key(const YAML::Mark& mark, const std::string& name) {
    OpenNode& map = open_.back();
    map.current_key = name;
    const auto [first, inserted] = map.keys.emplace(name, mark);
    if (!inserted && !repeated_) {
      repeated_ = pathTo(name) + " is given twice (lines " + lineOf(first->second) + " and " +
                  lineOf(mark) + ")";
    }
  }

  // "roi.width", "poses[2].x": the path of the mapping holding `name`, then the name.
  std::string pathTo(const std::string& name) const {
    std::string path;
    for (std::size_t i = 0; i + 1 < open_.size(); ++i) {
      if (open_[i].is_map) {
        path += (path.empty() ? "" : ".") + open_[i].current_key;
      } else {
        path += "[" + std::to_string(open_[i].index) + "]";
      }
    }
    return path.empty() ? name : path + "." + name;
  }

  void closeNode() {
    open_.pop_back();
    nodeDone();
  }

  // A node ended: in a mapping the next one is a value after a key and a key after a value.
  void nodeDone() {
    if (open_.empty()) {
      return;
    }
    OpenNode& parent = open_.back();
    if (parent.is_map) {
      parent.at_key = !parent.at_key;
    } else {
      ++parent.index;
    }
  }

  std::vector<OpenNode> open_;
  std::optional<std::string> repeated_;
  YAML::Mark start_;
};

// Whether a document holds anything but one null node, and where it starts.
class DocumentProbe : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark& mark) override { start_ = mark; }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override { content_ = true; }
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                const std::string&) override {
    content_ = true;
  }
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {
    content_ = true;
  }
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {
    content_ = true;
  }
  void OnMapEnd() override {}

  bool content() const { return content_; }
  const YAML::Mark& start() const { return start_; }

 private:
  bool content_ = false;
  YAML::Mark start_;
};

}  // namespace

std::optional<std::string> yamlAmbiguity(std::string& text) {
  TextBuffer buffer(text);
  std::istream in(&buffer);
  YAML::Parser parser(in);
  RepeatedKeyFinder finder;
  parser.HandleNextDocument(finder);
  if (finder.repeated()) {
    return finder.repeated();
  }
  int previous_start = finder.start().pos;
  for (;;) {
    DocumentProbe probe;
    if (!parser.HandleNextDocument(probe)) {
      return std::nullopt;
    }
    // yaml-cpp reports an empty document without moving on when the next token cannot start
    // one (a "," at the top level): the text is not YAML, and asking again would never end.
    if (probe.start().pos <= previous_start) {
      throw YAML::ParserException(probe.start(), "a token that starts no document");
    }
    previous_start = probe.start().pos;
    if (probe.content()) {
      return "a second YAML document begins at line " + lineOf(probe.start());
    }
  }
}

}  // namespace vantorel_base_utils
