// SPDX-License-Identifier: Apache-2.0
// A depth image message read where it lies: a cv::Mat header over the message's buffer.
#ifndef VANTOREL_BASE_UTILS_NODES__DEPTH_IMAGE_VIEW_HPP_
#define VANTOREL_BASE_UTILS_NODES__DEPTH_IMAGE_VIEW_HPP_

#include <opencv2/core.hpp>
#include <sensor_msgs/msg/image.hpp>

namespace vantorel_base_utils_nodes {

// A CV_16UC1 (encoding "16UC1" or "mono16") or CV_32FC1 ("32FC1") matrix over `image.data`,
// its rows `image.step` bytes apart. Nothing is copied: the view is valid while the message
// lives, and it must only be read. Throws vantorel_base_utils::InputError naming
// "depth_image" for any other encoding, a byte order not the machine's, an empty image, a
// step shorter than a row or not a multiple of the pixel size, or data shorter than the
// rows it declares.
cv::Mat depthImageView(const sensor_msgs::msg::Image& image);

}  // namespace vantorel_base_utils_nodes

#endif  // VANTOREL_BASE_UTILS_NODES__DEPTH_IMAGE_VIEW_HPP_
