// SPDX-License-Identifier: Apache-2.0
#ifndef ROSIDL_TYPESUPPORT_CPP__IDENTIFIER_HPP_
#define ROSIDL_TYPESUPPORT_CPP__IDENTIFIER_HPP_

#include "rosidl_typesupport_cpp/visibility_control.h"

namespace rosidl_typesupport_cpp {

/// Identifier of dispatching handles. Handles are recognised by the address of this
/// variable, not by its text, so it is defined once, in this library.
ROSIDL_TYPESUPPORT_CPP_PUBLIC
extern const char* typesupport_identifier;

}  // namespace rosidl_typesupport_cpp

#endif  // ROSIDL_TYPESUPPORT_CPP__IDENTIFIER_HPP_
