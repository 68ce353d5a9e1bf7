// SPDX-License-Identifier: Apache-2.0
// The key function of InputError, which anchors its type information in the library.
#include "vantorel_base_utils/input_error.hpp"

namespace vantorel_base_utils {

InputError::~InputError() = default;

}  // namespace vantorel_base_utils
