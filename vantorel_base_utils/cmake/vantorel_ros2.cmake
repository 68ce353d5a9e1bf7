# SPDX-License-Identifier: Apache-2.0
# Where ROS 2 comes from. A real ROS 2 (sourced workspace or distribution) always wins.
# Without one, the stand-ins under ros2_standins/ are built into the build tree and used
# instead. The choice is made once per build tree and kept in VANTOREL_USES_STANDINS;
# afterwards rclcpp_DIR points at whichever was used. Every difference between the two
# builds lives in this file; the library's sources are the same in both.
#
# Including this file finds rclcpp and the message packages, and defines
#   vantorel_generate_interfaces(<target> <msg/srv files>...)  types and type supports
#   vantorel_install_standins()              the stand-ins beside the package (plain Debian)
#   vantorel_export_interface_runtime()      what the exported interface targets link to

if(NOT DEFINED CACHE{VANTOREL_USES_STANDINS})
  find_package(rclcpp QUIET)
  if(rclcpp_FOUND)
    set(_vantorel_standins_default OFF)
  else()
    set(_vantorel_standins_default ON)
  endif()
  set(VANTOREL_USES_STANDINS ${_vantorel_standins_default} CACHE BOOL
    "Build against the ROS 2 stand-ins instead of a ROS 2 distribution")
endif()
if(VANTOREL_USES_STANDINS)
  set(VANTOREL_STANDINS_PREFIX "${CMAKE_BINARY_DIR}/ros2_standins" CACHE PATH
    "Install prefix of the ROS 2 stand-ins")
  include("${PROJECT_SOURCE_DIR}/ros2_standins/build_standins.cmake")
endif()
find_package(rclcpp REQUIRED)
message(STATUS "vantorel_base_utils: ROS 2 stand-ins in use: ${VANTOREL_USES_STANDINS}")

find_package(builtin_interfaces REQUIRED)
find_package(std_msgs REQUIRED)
find_package(geometry_msgs REQUIRED)
find_package(sensor_msgs REQUIRED)

# The C++ types and type supports of the package's own messages and services, as libraries
# for nodes. A macro: rosidl and ament keep their state in the caller's variables.
macro(vantorel_generate_interfaces target)
  if(VANTOREL_USES_STANDINS)
    # Debian ships the C, C++ and introspection generators but no rosidl_typesupport_cpp
    # generator: those four are found one by one and the dispatch library is built by our
    # own template against the stand-in runtime.
    find_package(rosidl_cmake REQUIRED)
    find_package(rosidl_generator_c REQUIRED)
    find_package(rosidl_generator_cpp REQUIRED)
    find_package(rosidl_typesupport_introspection_c REQUIRED)
    find_package(rosidl_typesupport_introspection_cpp REQUIRED)
    find_package(rosidl_typesupport_cpp REQUIRED)
  else()
    find_package(rosidl_default_generators REQUIRED)
  endif()
  rosidl_generate_interfaces(${target} ${ARGN}
    DEPENDENCIES builtin_interfaces std_msgs geometry_msgs)
  if(VANTOREL_USES_STANDINS)
    include(typesupport_cpp/vantorel_typesupport_cpp)
    vantorel_add_typesupport_cpp_library(${target} INTERFACES ${ARGN})
    vantorel_strict_warnings(${target}__rosidl_typesupport_cpp)
  endif()
  # The stand-in rosidl_typesupport_cpp loads the concrete type supports with dlopen; their own
  # dependencies then resolve next to them in the installed lib/ folder. In ROS 2 every library
  # is found through the sourced workspace's environment instead.
  foreach(_suffix rosidl_generator_c rosidl_typesupport_introspection_c
      rosidl_typesupport_introspection_cpp rosidl_typesupport_fastrtps_cpp rosidl_typesupport_cpp)
    if(VANTOREL_USES_STANDINS AND TARGET ${target}__${_suffix})
      set_target_properties(${target}__${_suffix} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()
  endforeach()
endmacro()

# On a machine without ROS 2 the installed package is usable only together with the
# stand-ins its headers include, so they go into the same prefix.
option(VANTOREL_INSTALL_STANDINS "Install the ROS 2 stand-ins beside the package" ON)
function(vantorel_install_standins)
  if(VANTOREL_USES_STANDINS AND VANTOREL_INSTALL_STANDINS)
    install(DIRECTORY "${VANTOREL_STANDINS_PREFIX}/" DESTINATION .
      USE_SOURCE_PERMISSIONS PATTERN ".standins-digest" EXCLUDE)
  endif()
endfunction()

macro(vantorel_export_interface_runtime)
  if(VANTOREL_USES_STANDINS)
    ament_export_dependencies(rosidl_runtime_c rosidl_runtime_cpp rosidl_typesupport_interface
      rosidl_typesupport_introspection_c rosidl_typesupport_introspection_cpp
      rosidl_typesupport_cpp)
  else()
    ament_export_dependencies(rosidl_default_runtime)
  endif()
endmacro()
