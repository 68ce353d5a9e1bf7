# SPDX-License-Identifier: Apache-2.0
# Shared build of a stand-in interface package: every .msg under msg/ is generated
# with Debian's rosidl generators (C, C++ and both introspection type supports).
macro(standin_interface_package)
  cmake_parse_arguments(_standin "" "" "DEPENDENCIES" ${ARGN})
  find_package(ament_cmake REQUIRED)
  find_package(rosidl_cmake REQUIRED)
  find_package(rosidl_generator_c REQUIRED)
  find_package(rosidl_generator_cpp REQUIRED)
  find_package(rosidl_typesupport_introspection_c REQUIRED)
  find_package(rosidl_typesupport_introspection_cpp REQUIRED)
  foreach(_dep IN LISTS _standin_DEPENDENCIES)
    find_package(${_dep} REQUIRED)
  endforeach()

  # Installed interface libraries are found by dlopen next to each other.
  set(CMAKE_INSTALL_RPATH "$ORIGIN")

  file(GLOB _standin_msgs RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/msg/*.msg")
  list(SORT _standin_msgs)
  if(_standin_DEPENDENCIES)
    rosidl_generate_interfaces(${PROJECT_NAME} ${_standin_msgs}
      DEPENDENCIES ${_standin_DEPENDENCIES})
  else()
    rosidl_generate_interfaces(${PROJECT_NAME} ${_standin_msgs})
  endif()
  # What the exported targets link to; the real packages get this from rosidl_default_runtime.
  ament_export_dependencies(rosidl_runtime_c rosidl_runtime_cpp rosidl_typesupport_interface
    rosidl_typesupport_introspection_c rosidl_typesupport_introspection_cpp)
  ament_package()
endmacro()
