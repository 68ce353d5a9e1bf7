# SPDX-License-Identifier: Apache-2.0
# Builds <generate_target>__rosidl_typesupport_cpp, the rosidl_typesupport_cpp dispatch
# library of a package's interfaces, where the ROS 2 generator for it is not available.
# Every interface's code comes from the templates beside this file, so adding a message or
# service to the package needs no hand-written code.
#
#   vantorel_add_typesupport_cpp_library(<generate_target> INTERFACES <msg/A.msg|srv/B.srv>...)
#
# Call it after rosidl_generate_interfaces(<generate_target> ...) and before ament_package().
# Needs find_package(rosidl_cmake) and find_package(rosidl_typesupport_cpp) done.

set(_vantorel_ts_template_dir "${CMAKE_CURRENT_LIST_DIR}")

# Appends the handle records of one message or service type to the variable `records`.
function(_vantorel_ts_append_records records kind name)
  if(kind STREQUAL "message")
    set(HANDLE_TYPE rosidl_message_type_support_t)
    set(SYMBOL_KIND MESSAGE)
  else()
    set(HANDLE_TYPE rosidl_service_type_support_t)
    set(SYMBOL_KIND SERVICE)
  endif()
  set(KIND ${kind})
  set(NAME ${name})
  set(PLAIN_GETTER "")
  # Services have no plain-symbol entry point, only their template specialisation.
  if(kind STREQUAL "message")
    file(READ "${_vantorel_ts_template_dir}/plain_getter.cpp.in" _getter)
    string(CONFIGURE "${_getter}" PLAIN_GETTER @ONLY)
  endif()
  file(READ "${_vantorel_ts_template_dir}/handle_records.cpp.in" _block)
  string(CONFIGURE "${_block}" _block @ONLY)
  set(${records} "${${records}}${_block}" PARENT_SCOPE)
endfunction()

# Writes the dispatch source of one interface file and returns its path in `out_var`.
function(_vantorel_ts_write_source out_var package interface_file output_dir)
  get_filename_component(_name "${interface_file}" NAME_WE)
  get_filename_component(_ext "${interface_file}" LAST_EXT)
  get_filename_component(_dir "${interface_file}" DIRECTORY)
  get_filename_component(SUB "${_dir}" NAME)
  set(PKG ${package})
  string_camel_case_to_lower_case_underscore("${_name}" _stem)
  set(VANTOREL_TS_RECORDS "")
  if(_ext STREQUAL ".msg")
    _vantorel_ts_append_records(VANTOREL_TS_RECORDS message "${_name}")
  elseif(_ext STREQUAL ".srv")
    _vantorel_ts_append_records(VANTOREL_TS_RECORDS message "${_name}_Request")
    _vantorel_ts_append_records(VANTOREL_TS_RECORDS message "${_name}_Response")
    _vantorel_ts_append_records(VANTOREL_TS_RECORDS service "${_name}")
  else()
    message(FATAL_ERROR
      "vantorel_add_typesupport_cpp_library: '${interface_file}' is neither .msg nor .srv")
  endif()
  set(VANTOREL_TS_INTERFACE_FILE "${interface_file}")
  set(VANTOREL_TS_STRUCT_HEADER "${package}/${SUB}/detail/${_stem}__struct.hpp")
  set(_output "${output_dir}/${SUB}/${_stem}__type_support.cpp")
  configure_file("${_vantorel_ts_template_dir}/type_support.cpp.in" "${_output}" @ONLY)
  set(${out_var} "${_output}" PARENT_SCOPE)
endfunction()

function(_vantorel_ts_build_library generate_target)
  cmake_parse_arguments(_arg "" "" "INTERFACES" ${ARGN})
  if(NOT _arg_INTERFACES)
    message(FATAL_ERROR "vantorel_add_typesupport_cpp_library: no INTERFACES given")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${_vantorel_ts_template_dir}/handle_records.cpp.in"
    "${_vantorel_ts_template_dir}/plain_getter.cpp.in")

  set(_output_dir "${CMAKE_CURRENT_BINARY_DIR}/vantorel_typesupport_cpp/${PROJECT_NAME}")
  set(_sources "")
  foreach(_file IN LISTS _arg_INTERFACES)
    _vantorel_ts_write_source(_source "${PROJECT_NAME}" "${_file}" "${_output_dir}")
    list(APPEND _sources "${_source}")
  endforeach()

  set(_target ${generate_target}__rosidl_typesupport_cpp)
  add_library(${_target} SHARED ${_sources})
  add_library(${PROJECT_NAME}::${_target} ALIAS ${_target})
  target_compile_features(${_target} PUBLIC cxx_std_17)
  # The generated C++ types come along, so a node linking this library can use them; the
  # run time it dispatches through stays private, as with ROS 2's generator.
  target_link_libraries(${_target} PUBLIC ${generate_target}__rosidl_generator_cpp
    PRIVATE rosidl_runtime_c::rosidl_runtime_c rosidl_typesupport_cpp::rosidl_typesupport_cpp
      rosidl_typesupport_interface::rosidl_typesupport_interface)
  add_dependencies(${_target} ${generate_target}__cpp)
  add_dependencies(${generate_target} ${_target})

  install(TARGETS ${_target} EXPORT ${_target}
    ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION bin)
endfunction()

# A macro because the two export calls collect into variables of the calling scope.
macro(vantorel_add_typesupport_cpp_library generate_target)
  _vantorel_ts_build_library(${generate_target} ${ARGN})
  rosidl_export_typesupport_targets(__rosidl_typesupport_cpp
    ${generate_target}__rosidl_typesupport_cpp)
  ament_export_targets(${generate_target}__rosidl_typesupport_cpp)
endmacro()
