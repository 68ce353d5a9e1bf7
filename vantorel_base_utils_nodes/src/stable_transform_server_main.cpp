// SPDX-License-Identifier: Apache-2.0
// The stable-transform server as a program of its own: remapping, namespaces and parameters
// come from the command line (`--ros-args -r __ns:=/arm -p sample_rate_hz:=50.0`).
#include "standalone_main.hpp"
#include "vantorel_base_utils_nodes/stable_transform_server.hpp"

int main(int argc, char** argv) {
  return vantorel_base_utils_nodes::runStandalone<vantorel_base_utils_nodes::StableTransformServer>(
      argc, argv, "stable_transform_server");
}
