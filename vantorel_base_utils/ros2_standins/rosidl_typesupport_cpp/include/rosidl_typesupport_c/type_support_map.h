// SPDX-License-Identifier: Apache-2.0
#ifndef ROSIDL_TYPESUPPORT_C__TYPE_SUPPORT_MAP_H_
#define ROSIDL_TYPESUPPORT_C__TYPE_SUPPORT_MAP_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/// What a dispatching type-support handle points to: for each concrete type support its
/// identifier, the entry-point symbol in lib<package_name>__<identifier>, and a slot in
/// which the look-up keeps the loaded library. The three arrays have `size` entries.
typedef struct type_support_map_t {
  const size_t size;
  const char* package_name;
  const char* const* typesupport_identifier;
  const char* const* symbol_name;
  void** data;
} type_support_map_t;

#ifdef __cplusplus
}
#endif

#endif  // ROSIDL_TYPESUPPORT_C__TYPE_SUPPORT_MAP_H_
