// SPDX-License-Identifier: Apache-2.0
#ifndef VANTOREL_BASE_UTILS__TEST__INTERFACES__HANDLE_VIEWS_HPP_
#define VANTOREL_BASE_UTILS__TEST__INTERFACES__HANDLE_VIEWS_HPP_

// One uniform view of the package's five C++ type-support handles (four messages, one
// service), so that the interface tests treat them alike, and the two shapes a handle takes:
// with several concrete type supports it dispatches through a map, with a single one it is
// that type support's own handle.

#include <rosidl_runtime_c/message_type_support_struct.h>
#include <rosidl_runtime_c/service_type_support_struct.h>
#include <rosidl_typesupport_c/type_support_map.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <rosidl_typesupport_cpp/message_type_support.hpp>
#include <rosidl_typesupport_cpp/message_type_support_dispatch.hpp>
#include <rosidl_typesupport_cpp/service_type_support.hpp>
#include <rosidl_typesupport_cpp/service_type_support_dispatch.hpp>
#include <sstream>
#include <string>
#include <vantorel_base_utils/msg/detection_result.hpp>
#include <vantorel_base_utils/msg/stable_transform_status.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>
#include <vector>

namespace vantorel_test {

struct HandleView {
  std::string kind;                  // "message" or "service"
  std::string qualified;             // e.g. "msg__StableTransformStatus"
  std::string type_name;             // e.g. "StableTransformStatus"
  std::function<const void*()> get;  // the template specialisation
  const char* identifier;
  const void* data;
  bool looks_up_through_runtime;  // func is rosidl_typesupport_cpp's look-up function
  // Calls the handle's own look-up function.
  std::function<const void*(const char*)> lookup;

  // Only for a handle that dispatches through a map.
  const type_support_map_t* map() const { return static_cast<const type_support_map_t*>(data); }
};

inline std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::istringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ','))
    items.push_back(item);
  return items;
}

// The concrete C++ type supports the handles lead to, in the generator's (sorted) order.
inline std::vector<std::string> dispatchedTypeSupports() {
  return splitList(VANTOREL_DISPATCHED_TYPESUPPORTS);
}
// Those of them whose library this build generates.
inline std::vector<std::string> builtTypeSupports() {
  return splitList(VANTOREL_BUILT_TYPESUPPORTS);
}
inline bool dispatchesThroughMap() {
  return dispatchedTypeSupports().size() > 1;
}
// Position of a type support in the map, or -1.
inline int slotOf(const std::string& typesupport) {
  const auto ids = dispatchedTypeSupports();
  const auto found = std::find(ids.begin(), ids.end(), typesupport);
  return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
}

inline rosidl_message_typesupport_handle_function runtimeLookUp(
    const rosidl_message_type_support_t*) {
  return &rosidl_typesupport_cpp::get_message_typesupport_handle_function;
}
inline rosidl_service_typesupport_handle_function runtimeLookUp(
    const rosidl_service_type_support_t*) {
  return &rosidl_typesupport_cpp::get_service_typesupport_handle_function;
}

template <typename Handle>
HandleView makeView(const std::string& kind, const std::string& folder, const std::string& name,
                    std::function<const Handle*()> get) {
  const Handle* handle = get();
  return HandleView{
      kind,
      folder + "__" + name,
      name,
      [get] { return static_cast<const void*>(get()); },
      handle->typesupport_identifier,
      handle->data,
      handle->func == runtimeLookUp(handle),
      [handle](const char* id) { return static_cast<const void*>(handle->func(handle, id)); }};
}

inline std::vector<HandleView> packageHandles() {
  namespace msg = vantorel_base_utils::msg;
  namespace srv = vantorel_base_utils::srv;
  using rosidl_typesupport_cpp::get_message_type_support_handle;
  using rosidl_typesupport_cpp::get_service_type_support_handle;
  return {
      makeView<rosidl_message_type_support_t>(
          "message", "msg", "DetectionResult",
          get_message_type_support_handle<msg::DetectionResult>),
      makeView<rosidl_message_type_support_t>(
          "message", "msg", "StableTransformStatus",
          get_message_type_support_handle<msg::StableTransformStatus>),
      makeView<rosidl_message_type_support_t>(
          "message", "srv", "GetStableTransform_Request",
          get_message_type_support_handle<srv::GetStableTransform_Request>),
      makeView<rosidl_message_type_support_t>(
          "message", "srv", "GetStableTransform_Response",
          get_message_type_support_handle<srv::GetStableTransform_Response>),
      makeView<rosidl_service_type_support_t>(
          "service", "srv", "GetStableTransform",
          get_service_type_support_handle<srv::GetStableTransform>),
  };
}

}  // namespace vantorel_test

#endif  // VANTOREL_BASE_UTILS__TEST__INTERFACES__HANDLE_VIEWS_HPP_
