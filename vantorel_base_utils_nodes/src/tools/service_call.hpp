// SPDX-License-Identifier: Apache-2.0
// What the package's command-line programs share: their options, and one service call.
#ifndef VANTOREL_BASE_UTILS_NODES_TOOLS__SERVICE_CALL_HPP_
#define VANTOREL_BASE_UTILS_NODES_TOOLS__SERVICE_CALL_HPP_

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <rclcpp/rclcpp.hpp>

namespace vantorel_tools {

using Options = std::vector<std::pair<std::string, std::string>>;

// The arguments from `first` on as option-value pairs; nullopt when the last has no value.
inline std::optional<Options> optionPairs(const std::vector<std::string>& args, std::size_t first) {
  if (args.size() < first || (args.size() - first) % 2 != 0) {
    return std::nullopt;
  }
  Options options;
  for (std::size_t i = first; i < args.size(); i += 2) {
    options.emplace_back(args[i], args[i + 1]);
  }
  return options;
}

// The text as a number when it is one, whole.
inline std::optional<double> number(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') {
    return std::nullopt;
  }
  return value;
}

// Calls `service` once, waiting up to 10 s for it to appear and `wait` for the answer: the
// answer, or nullptr after saying on standard error why none came.
template <typename ServiceT>
typename ServiceT::Response::SharedPtr callOnce(const char* node_name, const std::string& service,
                                                typename ServiceT::Request::SharedPtr request,
                                                std::chrono::seconds wait) {
  auto node = std::make_shared<rclcpp::Node>(node_name);
  auto client = node->create_client<ServiceT>(service);
  if (!client->wait_for_service(std::chrono::seconds(10))) {
    std::fprintf(stderr, "no service %s\n", client->get_service_name());
    return nullptr;
  }
  auto future = client->async_send_request(request);
  if (rclcpp::spin_until_future_complete(node, future, wait) != rclcpp::FutureReturnCode::SUCCESS) {
    std::fprintf(stderr, "no answer from %s\n", client->get_service_name());
    return nullptr;
  }
  return future.get();
}

}  // namespace vantorel_tools

#endif  // VANTOREL_BASE_UTILS_NODES_TOOLS__SERVICE_CALL_HPP_
