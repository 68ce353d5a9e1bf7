// SPDX-License-Identifier: Apache-2.0
// Umbrella header: every public header of the library.
#ifndef VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_
#define VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_

#include "vantorel_base_utils/camera_calibration.hpp"
#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/depth_image_file.hpp"
#include "vantorel_base_utils/detection_points.hpp"
#include "vantorel_base_utils/input_error.hpp"
#include "vantorel_base_utils/json_utils.hpp"
#include "vantorel_base_utils/logger.hpp"
#include "vantorel_base_utils/orientation_offset.hpp"
#include "vantorel_base_utils/point_cloud.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/regular_file.hpp"
#include "vantorel_base_utils/set_cover.hpp"
#include "vantorel_base_utils/timer.hpp"
#include "vantorel_base_utils/transforms.hpp"
#include "vantorel_base_utils/yaml_utils.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

#endif  // VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_
