// SPDX-License-Identifier: Apache-2.0
// points.json written as a stream: the same bytes as the whole document dumped with an
// indent of one, without ever holding the document, so that its size costs no memory.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__POINTS_JSON_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__POINTS_JSON_HPP_

#include <ostream>

#include "frame_pipeline.hpp"

namespace vantorel_tools {

// Writes pointsDocument(result).dump(1) to `out`, piece by piece: classes in the order of
// their decimal text (the document's key order), each class's instances in detection order.
void writePointsJson(std::ostream& out, const FrameResult& result);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__POINTS_JSON_HPP_
