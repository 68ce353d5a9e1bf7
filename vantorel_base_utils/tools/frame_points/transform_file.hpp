// SPDX-License-Identifier: Apache-2.0
// The frame tool's transform files.
#ifndef VANTOREL_TOOLS__TRANSFORM_FILE_HPP_
#define VANTOREL_TOOLS__TRANSFORM_FILE_HPP_

#include <cstddef>
#include <string>

#include <Eigen/Core>

namespace vantorel_tools {

// Largest transform document read.
constexpr std::size_t kMaxTransformFileBytes = std::size_t{1} << 20;

// The transform JSON document {"translation": [x, y, z], "rotation": [w, x, y, z]} at `path`,
// holding exactly those members with exactly 3 and 4 numbers. Throws InputError naming the
// file.
Eigen::Matrix4d readTransformFile(const std::string& path);

}  // namespace vantorel_tools

#endif  // VANTOREL_TOOLS__TRANSFORM_FILE_HPP_
