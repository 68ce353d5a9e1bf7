// SPDX-License-Identifier: Apache-2.0
#include "fuzz_support.hpp"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <rcutils/logging.h>

namespace vantorel_fuzz {

namespace {

void formatAndDrop(const rcutils_log_location_t*, int, const char*, rcutils_time_point_value_t,
                   const char* format, va_list* args) {
  char buffer[1024];
  va_list copy;
  va_copy(copy, *args);
  std::vsnprintf(buffer, sizeof(buffer), format, copy);
  va_end(copy);
}

std::map<std::string, std::string>& scratchFiles() {
  static std::map<std::string, std::string> files;
  return files;
}

void removeScratchFiles() {
  for (const auto& [suffix, path] : scratchFiles()) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
}

}  // namespace

const rclcpp::Logger& quietLogger() {
  static const rclcpp::Logger logger = [] {
    const rcutils_ret_t initialized = rcutils_logging_initialize();
    (void)initialized;
    rcutils_logging_set_default_logger_level(RCUTILS_LOG_SEVERITY_DEBUG);
    rcutils_logging_set_output_handler(&formatAndDrop);
    return rclcpp::get_logger("fuzz");
  }();
  return logger;
}

const std::string& scratchFile(const std::string& suffix) {
  auto& files = scratchFiles();
  const auto known = files.find(suffix);
  if (known != files.end()) {
    return known->second;
  }
  if (files.empty()) {
    std::atexit(&removeScratchFiles);
  }
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("vantorel_fuzz_" + std::to_string(::getpid()) + suffix);
  return files.emplace(suffix, path.string()).first->second;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write the scratch file %s\n", path.c_str());
    std::abort();
  }
}

void fail(const char* invariant, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, invariant);
  std::fflush(stderr);
  __builtin_trap();
}

}  // namespace vantorel_fuzz
