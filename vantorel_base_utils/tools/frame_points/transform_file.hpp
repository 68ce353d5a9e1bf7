// SPDX-License-Identifier: Apache-2.0
// The frame tool's transform files, read by the library's reader.
#ifndef VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_
#define VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_

#include <string>

#include <Eigen/Core>

namespace vantorel_tools {

// The transform at `path` in either form vantorel_base_utils::readTransformFile reads, as a
// matrix. Throws InputError naming the file and, for a bad member, the member.
Eigen::Matrix4d readTransformFile(const std::string& path);

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS__TOOLS__FRAME_POINTS__TRANSFORM_FILE_HPP_
