// SPDX-License-Identifier: Apache-2.0
// Stand-in for rclcpp's logger type on machines without a ROS 2 distribution.
// Only the surface the library and its tools use is provided, under the same names.
#ifndef RCLCPP__LOGGER_HPP_
#define RCLCPP__LOGGER_HPP_

#include <memory>
#include <string>

namespace rclcpp {

class Logger {
 public:
  const char* get_name() const { return name_ ? name_->c_str() : nullptr; }

  Logger get_child(const std::string& suffix) {
    if (!name_) {
      return Logger();
    }
    return Logger(*name_ + "." + suffix);
  }

 private:
  friend Logger get_logger(const std::string& name);

  Logger() = default;  // a logger without a name drops every message, as rclcpp's dummy logger does
  explicit Logger(const std::string& name) : name_(std::make_shared<const std::string>(name)) {}

  std::shared_ptr<const std::string> name_;
};

inline Logger get_logger(const std::string& name) {
  return Logger(name);
}

}  // namespace rclcpp

#endif  // RCLCPP__LOGGER_HPP_
