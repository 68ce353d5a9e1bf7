// SPDX-License-Identifier: Apache-2.0
#include "points_json.hpp"

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantorel_tools {

using nlohmann::json;

namespace {

// The JSON library's own pretty printer, over `out`, for the leaves: numbers, short arrays
// and null come out exactly as in a dumped document.
class LeafWriter {
 public:
  explicit LeafWriter(std::ostream& out)
      : out_(out),
        serializer_(nlohmann::detail::output_adapter<char>(out), ' ',
                    json::error_handler_t::strict) {}

  void newline(unsigned indent) {
    out_.put('\n');
    for (unsigned i = 0; i < indent; ++i) {
      out_.put(' ');
    }
  }

  void key(unsigned indent, const std::string& name) {
    newline(indent);
    out_ << '"' << name << "\": ";
  }

  void value(const json& leaf, unsigned indent) { serializer_.dump(leaf, true, false, 1, indent); }

 private:
  std::ostream& out_;
  nlohmann::detail::serializer<json> serializer_;
};

// One point as the document holds it: an array of three numbers, one per line.
void writePoint(LeafWriter& writer, std::ostream& out, const vantorel_base_utils::ProjectedPoint& p,
                unsigned indent) {
  out.put('[');
  const float coordinates[] = {p.x, p.y, p.z};
  for (int c = 0; c < 3; ++c) {
    writer.newline(indent + 1);
    writer.value(json(coordinates[c]), indent + 1);
    if (c < 2) {
      out.put(',');
    }
  }
  writer.newline(indent);
  out.put(']');
}

void writeInstance(LeafWriter& writer, std::ostream& out,
                   const vantorel_base_utils::InstancePoints& instance, unsigned indent) {
  const auto& detection = instance.detection;
  const unsigned member = indent + 1;
  out.put('{');
  writer.key(member, "bbox_xyxy");
  writer.value(json{detection.x1, detection.y1, detection.x2, detection.y2}, member);
  out.put(',');
  writer.key(member, "centroid");
  writer.value(instance.points.empty() ? json(nullptr) : json(instance.centroid), member);
  out.put(',');
  writer.key(member, "confidence");
  writer.value(json(detection.conf), member);
  out.put(',');
  writer.key(member, "detection_index");
  writer.value(json(detection.index), member);
  out.put(',');
  writer.key(member, "points");
  if (instance.points.empty()) {
    out << "[]";
  } else {
    out.put('[');
    for (std::size_t i = 0; i < instance.points.size(); ++i) {
      writer.newline(member + 1);
      writePoint(writer, out, instance.points[i], member + 1);
      if (i + 1 < instance.points.size()) {
        out.put(',');
      }
    }
    writer.newline(member);
    out.put(']');
  }
  writer.newline(indent);
  out.put('}');
}

// Each class's instances in detection order, classes in the order of their keys' text.
std::map<std::string, std::vector<const vantorel_base_utils::InstancePoints*>> byClassKey(
    const FrameResult& result) {
  std::map<std::string, std::vector<const vantorel_base_utils::InstancePoints*>> classes;
  for (const auto& instance : result.detections.instances) {
    classes[std::to_string(instance.detection.cls)].push_back(&instance);
  }
  return classes;
}

}  // namespace

void writePointsJson(std::ostream& out, const FrameResult& result) {
  LeafWriter writer(out);
  out.put('{');
  writer.key(1, "classes");
  const auto classes = byClassKey(result);
  if (classes.empty()) {
    out << "{}";
  } else {
    out.put('{');
    std::size_t done = 0;
    for (const auto& [key, instances] : classes) {
      writer.key(2, key);
      out.put('{');
      writer.key(3, "instances");
      out.put('[');
      for (std::size_t i = 0; i < instances.size(); ++i) {
        writer.newline(4);
        writeInstance(writer, out, *instances[i], 4);
        if (i + 1 < instances.size()) {
          out.put(',');
        }
      }
      writer.newline(3);
      out.put(']');
      writer.newline(2);
      out.put('}');
      if (++done < classes.size()) {
        out.put(',');
      }
    }
    writer.newline(1);
    out.put('}');
  }
  out.put(',');
  writer.key(1, "frame");
  writer.value(json(frameName(result.frame)), 1);
  writer.newline(0);
  out.put('}');
}

}  // namespace vantorel_tools
