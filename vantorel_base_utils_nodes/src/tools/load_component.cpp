// SPDX-License-Identifier: Apache-2.0
// Loads a component into a running component container through its load_node service, for
// machines without the `ros2` command line:
//   load_component PACKAGE PLUGIN [--container /ComponentManager] [--name NAME]
//                  [--namespace NS] [-p NAME:=VALUE ...] [-e NAME:=VALUE ...]
// -p sets a parameter of the node, -e an extra argument for the container
// (`-e use_intra_process_comms:=true`). VALUE is read as an integer, a double, true/false, or
// else a string. Exits 0 when the
// container loaded the component, 1 when it refused (printing why), 2 when it did not answer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <composition_interfaces/srv/load_node.hpp>
#include <rclcpp/rclcpp.hpp>

#include "service_call.hpp"

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
               "[--name NAME] [--namespace NS] [-p NAME:=VALUE ...] [-e NAME:=VALUE ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // ROS reads only what follows --ros-args: given the rest, it would take `-p name:=text` for
  // a remapping in the old syntax and strip it.
  std::vector<std::string> args;
  std::vector<char*> ros_argv = {argv[0]};
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--ros-args") {
      ros_argv.insert(ros_argv.end(), argv + i, argv + argc);
      break;
    }
    args.emplace_back(argv[i]);
  }
  rclcpp::init(static_cast<int>(ros_argv.size()), ros_argv.data());
  const auto options = vantorel_tools::optionPairs(args, 3);
  if (!options) {
    rclcpp::shutdown();
    return usage();
  }
  auto request = std::make_shared<LoadNode::Request>();
  request->package_name = args[1];
  request->plugin_name = args[2];
  std::string container = "/ComponentManager";
  for (const auto& [option, value] : *options) {
    const std::size_t split = value.find(":=");
    if (option == "--container") {
      container = value;
    } else if (option == "--name") {
      request->node_name = value;
    } else if (option == "--namespace") {
      request->node_namespace = value;
    } else if ((option == "-p" || option == "-e") && split != std::string::npos && split > 0) {
      auto& list = option == "-p" ? request->parameters : request->extra_arguments;
      list.push_back(
          rclcpp::Parameter(value.substr(0, split), parameterValue(value.substr(split + 2)))
              .to_parameter_msg());
    } else {
      rclcpp::shutdown();
      return usage();
    }
  }
  const auto answer = vantorel_tools::callOnce<LoadNode>(
      "load_component", container + "/_container/load_node", request, std::chrono::seconds(30));
  if (!answer) {
    rclcpp::shutdown();
    return 2;
  }
  if (answer->success) {
    std::printf("loaded %s as %s (id %llu)\n", request->plugin_name.c_str(),
                answer->full_node_name.c_str(), static_cast<unsigned long long>(answer->unique_id));
  } else {
    std::fprintf(stderr, "refused: %s\n", answer->error_message.c_str());
  }
  rclcpp::shutdown();
  return answer->success ? 0 : 1;
}
