// Umbrella header: every public header of the library.
#ifndef VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_
#define VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_

#include "vantorel_base_utils/camera_model.hpp"
#include "vantorel_base_utils/projection.hpp"
#include "vantorel_base_utils/transforms.hpp"

#endif  // VANTOREL_BASE_UTILS__VANTOREL_BASE_UTILS_HPP_
