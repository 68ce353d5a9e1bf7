// Links against the installed library through the umbrella header only.
#include <iostream>

#include <rclcpp/rclcpp.hpp>
#include <vantorel_base_utils/vantorel_base_utils.hpp>

int main() {
  const auto logger = rclcpp::get_logger("downstream_check");
  sensor_msgs::msg::CameraInfo info;
  info.k = {500.0, 0.0, 320.0, 0.0, 500.0, 240.0, 0.0, 0.0, 1.0};
  const auto model = vantorel_base_utils::cameraModelFromCameraInfo(info);
  const auto json = vantorel_base_utils::toTransformJson(Eigen::Matrix4d::Identity());
  RCLCPP_INFO(logger, "fx=%.1f transform=%s", model.fx, json.dump().c_str());
  if (model.fx != 500.0 || json["rotation"][0] != 1.0) {
    std::cerr << "unexpected result\n";
    return 1;
  }
  std::cout << "downstream check ok\n";
  return 0;
}
