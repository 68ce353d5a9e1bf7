// SPDX-License-Identifier: Apache-2.0
// Which symbols the shared library exports. The library is compiled with hidden visibility,
// so only declarations marked VANTOREL_BASE_UTILS_PUBLIC are part of its binary interface;
// everything else stays inside it and may change without breaking callers.
//
// Mark functions, and the static members of a class template one by one: a marked class
// template instantiation would export its nested types too, and with them every instance of
// the standard library's templates over them.
//
// The library's own build defines VANTOREL_BASE_UTILS_BUILDING_LIBRARY; code that uses the
// library must not. On Windows the marks become dllexport and dllimport.
#ifndef VANTOREL_BASE_UTILS__VISIBILITY_CONTROL_HPP_
#define VANTOREL_BASE_UTILS__VISIBILITY_CONTROL_HPP_

#if defined _WIN32 || defined __CYGWIN__
#ifdef __GNUC__
#define VANTOREL_BASE_UTILS_EXPORT __attribute__((dllexport))
#define VANTOREL_BASE_UTILS_IMPORT __attribute__((dllimport))
#else
#define VANTOREL_BASE_UTILS_EXPORT __declspec(dllexport)
#define VANTOREL_BASE_UTILS_IMPORT __declspec(dllimport)
#endif
#ifdef VANTOREL_BASE_UTILS_BUILDING_LIBRARY
#define VANTOREL_BASE_UTILS_PUBLIC VANTOREL_BASE_UTILS_EXPORT
#else
#define VANTOREL_BASE_UTILS_PUBLIC VANTOREL_BASE_UTILS_IMPORT
#endif
#define VANTOREL_BASE_UTILS_LOCAL
#else
#define VANTOREL_BASE_UTILS_EXPORT __attribute__((visibility("default")))
#define VANTOREL_BASE_UTILS_IMPORT
#define VANTOREL_BASE_UTILS_PUBLIC __attribute__((visibility("default")))
#define VANTOREL_BASE_UTILS_LOCAL __attribute__((visibility("hidden")))
#endif

#endif  // VANTOREL_BASE_UTILS__VISIBILITY_CONTROL_HPP_
