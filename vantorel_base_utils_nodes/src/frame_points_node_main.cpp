// SPDX-License-Identifier: Apache-2.0
// The frame points node as a program of its own: remapping, namespaces and parameters come
// from the command line (`--ros-args -r depth/image:=/camera/depth/image_raw -p
// depth_scale:=0.0002`).
#include "standalone_main.hpp"
#include "vantorel_base_utils_nodes/frame_points_node.hpp"

int main(int argc, char** argv) {
  return vantorel_base_utils_nodes::runStandalone<vantorel_base_utils_nodes::FramePointsNode>(
      argc, argv, "frame_points_node");
}
