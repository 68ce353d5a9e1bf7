// SPDX-License-Identifier: Apache-2.0
// Links against the installed package: the library through its umbrella header, and the
// message and service types, whose introspection type support must resolve at run time.
#include <cstring>
#include <iostream>
#include <rclcpp/rclcpp.hpp>
#include <rosidl_typesupport_cpp/message_type_support.hpp>
#include <rosidl_typesupport_cpp/service_type_support.hpp>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <vantorel_base_utils/msg/stable_transform_status.hpp>
#include <vantorel_base_utils/srv/get_stable_transform.hpp>
#include <vantorel_base_utils/vantorel_base_utils.hpp>

namespace {

bool libraryWorks() {
  const auto logger = rclcpp::get_logger("downstream_check");
  sensor_msgs::msg::CameraInfo info;
  info.k = {500.0, 0.0, 320.0, 0.0, 500.0, 240.0, 0.0, 0.0, 1.0};
  const auto model = vantorel_base_utils::cameraModelFromCameraInfo(info);
  const auto json = vantorel_base_utils::toTransformJson(Eigen::Matrix4d::Identity());
  RCLCPP_INFO(logger, "fx=%.1f transform=%s", model.fx, json.dump().c_str());
  return model.fx == 500.0 && json["rotation"][0] == 1.0;
}

bool interfacesWork() {
  vantorel_base_utils::srv::GetStableTransform::Response response;
  response.status.status = vantorel_base_utils::msg::StableTransformStatus::STATUS_STABLE;
  response.status.target_frame = "map";

  const auto* handle = rosidl_typesupport_cpp::get_message_type_support_handle<
      vantorel_base_utils::msg::StableTransformStatus>();
  const auto* introspection = handle->func(handle, "rosidl_typesupport_introspection_cpp");
  const auto* service = rosidl_typesupport_cpp::get_service_type_support_handle<
      vantorel_base_utils::srv::GetStableTransform>();
  if (introspection == nullptr ||
      service->func(service, "rosidl_typesupport_introspection_cpp") == nullptr) {
    std::cerr << "introspection type support not found\n";
    return false;
  }
  const auto* members =
      static_cast<const rosidl_typesupport_introspection_cpp::MessageMembers*>(introspection->data);
  return std::strcmp(members->message_name_, "StableTransformStatus") == 0 &&
         members->member_count_ > 0 && std::strcmp(members->members_[0].name_, "target_frame") == 0;
}

}  // namespace

int main() {
  if (!libraryWorks() || !interfacesWork()) {
    std::cerr << "unexpected result\n";
    return 1;
  }
  std::cout << "downstream check ok\n";
  return 0;
}
