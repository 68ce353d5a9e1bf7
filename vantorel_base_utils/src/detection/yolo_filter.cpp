// SPDX-License-Identifier: Apache-2.0
// Class filtering and same-class box suppression of a ParsedYolo.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <rclcpp/logging.hpp>

#include "detection/class_id_text.hpp"
#include "detection/detection_selection.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace vantorel_base_utils {
namespace yolo_mask_parser {

ParsedYolo carryOver(const ParsedYolo& parsed, const std::vector<bool>& keep) {
  ParsedYolo result;
  result.success = parsed.success;
  result.message = parsed.message;
  std::set<int> kept_classes;
  for (std::size_t position = 0; position < parsed.detections.size(); ++position) {
    if (!keep[position]) {
      continue;
    }
    const YoloDetection& detection = parsed.detections[position];
    result.detections.push_back(detection);
    kept_classes.insert(detection.cls);
    const auto mask = parsed.instance_masks.find(detection.index);
    if (mask != parsed.instance_masks.end()) {
      result.instance_masks.insert(*mask);
    }
  }
  for (const auto& entry : parsed.masks_base64) {
    const std::optional<int> cls = classIdOfText(entry.first);
    if (cls && kept_classes.count(*cls) != 0) {
      result.masks_base64.insert(result.masks_base64.end(), entry);  // in key order already
    }
  }
  return result;
}

namespace {

float intersection(const YoloDetection& a, const YoloDetection& b) {
  const float width = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
  const float height = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
  return std::max(width, 0.0F) * std::max(height, 0.0F);
}

// The suppression rule for one pair: whether the kept box `a` suppresses `b`. Every pair
// that is decided at all is decided here; the code below only skips pairs that this rule
// cannot pair up.
bool overlapsAbove(const YoloDetection& a, const YoloDetection& b, float iou_threshold) {
  const float inter = intersection(a, b);
  const float uni = a.area + b.area - inter;
  return uni > 0.0F && inter / uni > iou_threshold;
}

// NaN confidences rank lowest, so the ordering stays a strict weak order.
float rankOf(const YoloDetection& detection) {
  return std::isnan(detection.conf) ? -std::numeric_limits<float>::infinity() : detection.conf;
}

bool hasNanCorner(const YoloDetection& d) {
  return std::isnan(d.x1) || std::isnan(d.y1) || std::isnan(d.x2) || std::isnan(d.y2);
}

// Whether the open extents of two boxes without NaN corners meet on both axes. With a
// threshold of 0 or more a pair needs a positive intersection, and min(x2) - max(x1) > 0
// holds exactly when min(x2) > max(x1), infinities included. For a hull of several boxes it
// tells whether any of them may meet `b`.
template <typename A, typename B>
bool interiorsMeet(const A& a, const B& b) {
  return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2;
}

// How a box can take part in suppression at a threshold of 0 or more.
enum class Role {
  kInert,    // no NaN corner, an empty open extent: never suppresses, is never suppressed
  kRegular,  // no NaN corner, non-empty open extents: pairs only with boxes it meets
  kWild,     // a NaN corner: min and max then depend on argument order, so compared with all
};

Role roleOf(const YoloDetection& d) {
  if (hasNanCorner(d)) {
    return Role::kWild;
  }
  return d.x1 < d.x2 && d.y1 < d.y2 ? Role::kRegular : Role::kInert;
}

// The regular boxes of one class in a static k-d tree over their lower corners. Every node
// knows the hull of its boxes and how many of them are kept, so a query visits only nodes
// that may hold a kept box meeting the query box; disjoint boxes cost about log n each.
class KeptBoxIndex {
 public:
  // `ranks` name boxes by their place in the suppression order; `box(rank)` gives each.
  template <typename BoxOf>
  KeptBoxIndex(const std::vector<std::size_t>& ranks, std::size_t rank_count, BoxOf box)
      : slot_of_rank_(rank_count, kNone) {
    items_.reserve(ranks.size());
    for (const std::size_t rank : ranks) {
      const YoloDetection& d = box(rank);
      items_.push_back({d.x1, d.y1, d.x2, d.y2, rank, false});
    }
    if (!items_.empty()) {
      build(0, items_.size(), true);
    }
    for (std::size_t slot = 0; slot < items_.size(); ++slot) {
      slot_of_rank_[items_[slot].rank] = slot;
    }
  }

  void keep(std::size_t rank) {
    const std::size_t slot = slot_of_rank_[rank];
    items_[slot].kept = true;
    std::size_t node = 0;
    for (;;) {
      Node& n = nodes_[node];
      ++n.kept;
      if (n.left == kNone) {
        return;
      }
      node = slot < nodes_[n.left].end ? n.left : n.right;
    }
  }

  // Whether `decide(rank)` holds for some kept box whose interior meets that of `query`.
  template <typename Decide>
  bool anyMeeting(const YoloDetection& query, Decide decide) const {
    if (nodes_.empty()) {
      return false;
    }
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
      const Node& n = nodes_[pending.back()];
      pending.pop_back();
      if (n.kept == 0 || !interiorsMeet(n.hull, query)) {
        continue;
      }
      if (n.left != kNone) {
        pending.push_back(n.left);
        pending.push_back(n.right);
        continue;
      }
      for (std::size_t slot = n.begin; slot < n.end; ++slot) {
        const Item& item = items_[slot];
        if (item.kept && interiorsMeet(item, query) && decide(item.rank)) {
          return true;
        }
      }
    }
    return false;
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t kLeafSize = 8;

  struct Item {
    float x1, y1, x2, y2;
    std::size_t rank;
    bool kept;
  };
  struct Hull {
    float x1, y1, x2, y2;  // smallest lower and largest upper corners
  };
  struct Node {
    Hull hull;
    std::size_t begin, end;  // slots of its boxes
    std::size_t left, right;
    std::size_t kept;
  };

  // Depth grows with the logarithm of the box count only.
  std::size_t build(std::size_t begin, std::size_t end, bool split_x) {
    const std::size_t id = nodes_.size();
    nodes_.push_back({hullOf(begin, end), begin, end, kNone, kNone, 0});
    if (end - begin > kLeafSize) {
      const std::size_t middle = begin + (end - begin) / 2;
      std::nth_element(
          items_.begin() + static_cast<std::ptrdiff_t>(begin),
          items_.begin() + static_cast<std::ptrdiff_t>(middle),
          items_.begin() + static_cast<std::ptrdiff_t>(end),
          [split_x](const Item& a, const Item& b) { return split_x ? a.x1 < b.x1 : a.y1 < b.y1; });
      const std::size_t left = build(begin, middle, !split_x);
      const std::size_t right = build(middle, end, !split_x);
      nodes_[id].left = left;
      nodes_[id].right = right;
    }
    return id;
  }

  Hull hullOf(std::size_t begin, std::size_t end) const {
    Hull hull{items_[begin].x1, items_[begin].y1, items_[begin].x2, items_[begin].y2};
    for (std::size_t slot = begin + 1; slot < end; ++slot) {
      hull.x1 = std::min(hull.x1, items_[slot].x1);
      hull.y1 = std::min(hull.y1, items_[slot].y1);
      hull.x2 = std::max(hull.x2, items_[slot].x2);
      hull.y2 = std::max(hull.y2, items_[slot].y2);
    }
    return hull;
  }

  std::vector<Item> items_;
  std::vector<Node> nodes_;
  std::vector<std::size_t> slot_of_rank_;
};

// A box is suppressed exactly when some earlier box of the order that was kept suppresses it
// by the pair rule; walking the order once and asking only the kept boxes that the rule can
// pair with gives the same flags as comparing every kept box with every later one.
class ClassSuppression {
 public:
  // Up to this many boxes, comparing each with the kept ones beats building an index.
  static constexpr std::size_t kSmallClass = 256;

  ClassSuppression(const std::vector<YoloDetection>& detections, std::vector<std::size_t> order,
                   float iou_threshold)
      : detections_(detections), order_(std::move(order)), threshold_(iou_threshold) {}

  // Flags the suppressed boxes.
  void run(std::vector<bool>& suppressed) const {
    if (std::isnan(threshold_)) {
      return;  // no ratio is greater than NaN
    }
    const auto flag = [&](std::size_t rank) { suppressed[order_[rank]] = true; };
    if (threshold_ < 0.0F) {
      runAgainstKept(flag, true);
    } else if (order_.size() <= kSmallClass) {
      runAgainstKept(flag, false);
    } else {
      runNonNegative(flag);
    }
  }

 private:
  const YoloDetection& box(std::size_t rank) const { return detections_[order_[rank]]; }

  bool suppressedByAny(const std::vector<std::size_t>& kept, std::size_t rank) const {
    return std::any_of(kept.begin(), kept.end(), [&](std::size_t keeper) {
      return overlapsAbove(box(keeper), box(rank), threshold_);
    });
  }

  template <typename Flag>
  void runNonNegative(Flag flag) const {
    std::vector<Role> roles(order_.size());
    std::vector<std::size_t> regular;
    for (std::size_t rank = 0; rank < order_.size(); ++rank) {
      roles[rank] = roleOf(box(rank));
      if (roles[rank] == Role::kRegular) {
        regular.push_back(rank);
      }
    }
    KeptBoxIndex index(regular, order_.size(),
                       [this](std::size_t rank) -> const YoloDetection& { return box(rank); });
    std::vector<std::size_t> kept_regular;
    std::vector<std::size_t> kept_wild;
    for (std::size_t rank = 0; rank < order_.size(); ++rank) {
      const Role role = roles[rank];
      if (role == Role::kInert) {
        continue;
      }
      bool hit = suppressedByAny(kept_wild, rank);
      if (!hit && role == Role::kWild) {
        hit = suppressedByAny(kept_regular, rank);
      } else if (!hit) {
        hit = index.anyMeeting(box(rank), [&](std::size_t keeper) {
          return overlapsAbove(box(keeper), box(rank), threshold_);
        });
      }
      if (hit) {
        flag(rank);
      } else if (role == Role::kWild) {
        kept_wild.push_back(rank);
      } else {
        kept_regular.push_back(rank);
        index.keep(rank);
      }
    }
  }

  // Every box against every kept one, which is the rule itself: for classes too small to
  // repay building an index, and below 0. There every pair with a positive union and a ratio
  // that is a number suppresses, so boxes meet through their stored areas rather than their
  // corners; two boxes of area 0 have a union of at most 0, so `split_zero_area` compares a
  // box of area 0 only with the kept boxes of other areas.
  template <typename Flag>
  void runAgainstKept(Flag flag, bool split_zero_area) const {
    std::vector<std::size_t> kept;
    std::vector<std::size_t> kept_with_area;
    for (std::size_t rank = 0; rank < order_.size(); ++rank) {
      const bool zero_area = split_zero_area && box(rank).area == 0.0F;
      if (suppressedByAny(zero_area ? kept_with_area : kept, rank)) {
        flag(rank);
        continue;
      }
      kept.push_back(rank);
      if (!zero_area) {
        kept_with_area.push_back(rank);
      }
    }
  }

  const std::vector<YoloDetection>& detections_;
  std::vector<std::size_t> order_;
  float threshold_;
};

void suppressWithinClass(const std::vector<YoloDetection>& detections,
                         std::vector<std::size_t> positions, float iou_threshold,
                         std::vector<bool>& suppressed) {
  std::stable_sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
    return rankOf(detections[a]) > rankOf(detections[b]);
  });
  ClassSuppression(detections, std::move(positions), iou_threshold).run(suppressed);
}

}  // namespace

ParsedYolo filterParsedYolo(const ParsedYolo& parsed, const std::set<int>& keep_classes) {
  if (keep_classes.empty()) {
    return parsed;
  }
  std::vector<bool> keep(parsed.detections.size());
  for (std::size_t position = 0; position < keep.size(); ++position) {
    keep[position] = keep_classes.count(parsed.detections[position].cls) > 0;
  }
  return carryOver(parsed, keep);
}

std::vector<bool> sameClassSuppressed(const ParsedYolo& parsed, float iou_threshold) {
  const std::size_t total = parsed.detections.size();
  std::vector<bool> suppressed(total, false);
  if (total < 2) {
    return suppressed;
  }
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t position = 0; position < total; ++position) {
    groups[parsed.detections[position].cls].push_back(position);
  }
  for (auto& group : groups) {
    if (group.second.size() >= 2) {
      suppressWithinClass(parsed.detections, std::move(group.second), iou_threshold, suppressed);
    }
  }
  return suppressed;
}

ParsedYolo sameClassBboxNms(const ParsedYolo& parsed, float iou_threshold,
                            const rclcpp::Logger& logger) {
  const std::vector<bool> suppressed = sameClassSuppressed(parsed, iou_threshold);
  const auto count =
      static_cast<std::size_t>(std::count(suppressed.begin(), suppressed.end(), true));
  if (count == 0) {
    return parsed;
  }
  RCLCPP_INFO(logger, "sameClassBboxNms: suppressed %zu / %zu detections (iou_threshold=%.3f)",
              count, parsed.detections.size(), static_cast<double>(iou_threshold));
  std::vector<bool> keep(suppressed.size());
  for (std::size_t position = 0; position < keep.size(); ++position) {
    keep[position] = !suppressed[position];
  }
  return carryOver(parsed, keep);
}

}  // namespace yolo_mask_parser
}  // namespace vantorel_base_utils
