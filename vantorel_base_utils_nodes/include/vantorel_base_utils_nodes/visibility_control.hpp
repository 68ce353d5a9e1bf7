// SPDX-License-Identifier: Apache-2.0
// Which symbols the node libraries export. They are compiled with hidden visibility, so only
// the node classes marked VANTOREL_BASE_UTILS_NODES_PUBLIC are part of their binary
// interface; the statistics and helpers inside stay private to each library.
//
// A node library's own build defines VANTOREL_BASE_UTILS_NODES_BUILDING_LIBRARY; code that
// uses it must not. On Windows the marks become dllexport and dllimport.
#ifndef VANTOREL_BASE_UTILS_NODES__VISIBILITY_CONTROL_HPP_
#define VANTOREL_BASE_UTILS_NODES__VISIBILITY_CONTROL_HPP_

#if defined _WIN32 || defined __CYGWIN__
#ifdef __GNUC__
#define VANTOREL_BASE_UTILS_NODES_EXPORT __attribute__((dllexport))
#define VANTOREL_BASE_UTILS_NODES_IMPORT __attribute__((dllimport))
#else
#define VANTOREL_BASE_UTILS_NODES_EXPORT __declspec(dllexport)
#define VANTOREL_BASE_UTILS_NODES_IMPORT __declspec(dllimport)
#endif
#ifdef VANTOREL_BASE_UTILS_NODES_BUILDING_LIBRARY
#define VANTOREL_BASE_UTILS_NODES_PUBLIC VANTOREL_BASE_UTILS_NODES_EXPORT
#else
#define VANTOREL_BASE_UTILS_NODES_PUBLIC VANTOREL_BASE_UTILS_NODES_IMPORT
#endif
#define VANTOREL_BASE_UTILS_NODES_LOCAL
#else
#define VANTOREL_BASE_UTILS_NODES_EXPORT __attribute__((visibility("default")))
#define VANTOREL_BASE_UTILS_NODES_IMPORT
#define VANTOREL_BASE_UTILS_NODES_PUBLIC __attribute__((visibility("default")))
#define VANTOREL_BASE_UTILS_NODES_LOCAL __attribute__((visibility("hidden")))
#endif

#endif  // VANTOREL_BASE_UTILS_NODES__VISIBILITY_CONTROL_HPP_
