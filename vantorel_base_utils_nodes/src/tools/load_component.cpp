// SPDX-License-Identifier: Apache-2.0
// Loads a component into a running component container through its load_node service, for
// machines without the `ros2` command line:
//   load_component PACKAGE PLUGIN [--container /ComponentManager] [--name NAME]
//                  [--namespace NS] [-p NAME:=VALUE ...]
// VALUE is read as an integer, a double, true/false, or else a string. Exits 0 when the
// container loaded the component, 1 when it refused (printing why), 2 when it did not answer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <composition_interfaces/srv/load_node.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

using composition_interfaces::srv::LoadNode;

// The value as the narrowest type that reads it whole.
rclcpp::ParameterValue parameterValue(const std::string& text) {
  char* end = nullptr;
  const long long integer = std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0') {
    return rclcpp::ParameterValue(static_cast<int64_t>(integer));
  }
  const double number = std::strtod(text.c_str(), &end);
  if (!text.empty() && *end == '\0') {
    return rclcpp::ParameterValue(number);
  }
  if (text == "true" || text == "false") {
    return rclcpp::ParameterValue(text == "true");
  }
  return rclcpp::ParameterValue(text);
}

int usage() {
  std::fprintf(stderr,
               "usage: load_component PACKAGE PLUGIN [--container /ComponentManager] "
               "[--name NAME] [--namespace NS] [-p NAME:=VALUE ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = rclcpp::init_and_remove_ros_arguments(argc, argv);
  if (args.size() < 3) {
    return usage();
  }
  auto request = std::make_shared<LoadNode::Request>();
  request->package_name = args[1];
  request->plugin_name = args[2];
  std::string container = "/ComponentManager";
  for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    const std::size_t split = value.find(":=");
    if (option == "--container") {
      container = value;
    } else if (option == "--name") {
      request->node_name = value;
    } else if (option == "--namespace") {
      request->node_namespace = value;
    } else if (option == "-p" && split != std::string::npos) {
      request->parameters.push_back(
          rclcpp::Parameter(value.substr(0, split), parameterValue(value.substr(split + 2)))
              .to_parameter_msg());
    } else {
      return usage();
    }
  }
  auto node = std::make_shared<rclcpp::Node>("load_component");
  auto client = node->create_client<LoadNode>(container + "/_container/load_node");
  int status = 2;
  if (!client->wait_for_service(std::chrono::seconds(10))) {
    std::fprintf(stderr, "no container at %s\n", client->get_service_name());
  } else {
    auto future = client->async_send_request(request);
    if (rclcpp::spin_until_future_complete(node, future, std::chrono::seconds(30)) ==
        rclcpp::FutureReturnCode::SUCCESS) {
      const auto answer = future.get();
      if (answer->success) {
        std::printf("loaded %s as %s (id %llu)\n", request->plugin_name.c_str(),
                    answer->full_node_name.c_str(),
                    static_cast<unsigned long long>(answer->unique_id));
        status = 0;
      } else {
        std::fprintf(stderr, "refused: %s\n", answer->error_message.c_str());
        status = 1;
      }
    } else {
      std::fprintf(stderr, "no answer from %s\n", client->get_service_name());
    }
  }
  rclcpp::shutdown();
  return status;
}
