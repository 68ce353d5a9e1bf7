// SPDX-License-Identifier: Apache-2.0
#ifndef ROSIDL_TYPESUPPORT_CPP__MESSAGE_TYPE_SUPPORT_DISPATCH_HPP_
#define ROSIDL_TYPESUPPORT_CPP__MESSAGE_TYPE_SUPPORT_DISPATCH_HPP_

#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_typesupport_cpp/visibility_control.h"

namespace rosidl_typesupport_cpp {

/// Returns `handle` when it already is of `identifier`; for a dispatching handle, loads
/// the package's library of that type support once and returns the handle its entry point
/// gives. Returns null with the rcutils error state set when that is impossible.
ROSIDL_TYPESUPPORT_CPP_PUBLIC
const rosidl_message_type_support_t* get_message_typesupport_handle_function(
    const rosidl_message_type_support_t* handle, const char* identifier) noexcept;

}  // namespace rosidl_typesupport_cpp

#endif  // ROSIDL_TYPESUPPORT_CPP__MESSAGE_TYPE_SUPPORT_DISPATCH_HPP_
