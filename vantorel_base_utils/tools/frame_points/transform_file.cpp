// SPDX-License-Identifier: Apache-2.0
#include "transform_file.hpp"

#include "input_file.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vantorel_tools {

namespace vbu = vantorel_base_utils;

Eigen::Matrix4d readTransformFile(const std::string& path) {
  try {
    return vbu::toEigenTransform(vbu::readTransformFile(path));
  } catch (const vbu::InputError& e) {
    throw InputError(e.what());
  }
}

}  // namespace vantorel_tools
