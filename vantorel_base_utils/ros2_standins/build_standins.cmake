# SPDX-License-Identifier: Apache-2.0
# Builds and installs the stand-in ROS 2 packages into a prefix inside the build tree,
# at configure time, so that the main project finds them with find_package like the
# real ones. Rebuilt only when their sources change.
#
# In: VANTOREL_STANDINS_PREFIX (install prefix), Python3_EXECUTABLE.
# Out: the prefix is appended to CMAKE_PREFIX_PATH.

set(_standins_root "${CMAKE_CURRENT_LIST_DIR}")
set(_standins_packages builtin_interfaces std_msgs geometry_msgs sensor_msgs rclcpp
  rosidl_typesupport_cpp ${VANTOREL_EXTRA_STANDINS})

file(GLOB_RECURSE _standins_sources CONFIGURE_DEPENDS
  "${_standins_root}/*.msg" "${_standins_root}/*.txt" "${_standins_root}/*.xml"
  "${_standins_root}/*.hpp" "${_standins_root}/*.h" "${_standins_root}/*.cpp" "${_standins_root}/*.cmake")
list(SORT _standins_sources)
set(_standins_digest_input "${CMAKE_CXX_COMPILER};${Python3_EXECUTABLE}")
foreach(_file IN LISTS _standins_sources)
  file(SHA256 "${_file}" _hash)
  string(APPEND _standins_digest_input ";${_file}=${_hash}")
endforeach()
string(SHA256 _standins_digest "${_standins_digest_input}")

set(_standins_stamp "${VANTOREL_STANDINS_PREFIX}/.standins-digest")
set(_standins_old_digest "")
if(EXISTS "${_standins_stamp}")
  file(READ "${_standins_stamp}" _standins_old_digest)
endif()

if(NOT _standins_old_digest STREQUAL _standins_digest)
  message(STATUS "Building ROS 2 stand-ins into ${VANTOREL_STANDINS_PREFIX}")
  file(REMOVE_RECURSE "${VANTOREL_STANDINS_PREFIX}")
  set(_standins_build "${CMAKE_BINARY_DIR}/ros2_standins_build")
  file(MAKE_DIRECTORY "${_standins_build}")
  foreach(_pkg IN LISTS _standins_packages)
    set(_log "${_standins_build}/${_pkg}.log")
    # Two calls: commands of one execute_process run concurrently as a pipeline.
    execute_process(
      COMMAND "${CMAKE_COMMAND}" -S "${_standins_root}/${_pkg}" -B "${_standins_build}/${_pkg}"
        -G "${CMAKE_GENERATOR}"
        "-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}" "-DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}"
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
        "-DPython3_EXECUTABLE=${Python3_EXECUTABLE}"
        "-DCMAKE_INSTALL_PREFIX=${VANTOREL_STANDINS_PREFIX}"
        "-DCMAKE_PREFIX_PATH=${VANTOREL_STANDINS_PREFIX}"
      RESULT_VARIABLE _result OUTPUT_FILE "${_log}" ERROR_FILE "${_log}.err")
    if(_result EQUAL 0)
      execute_process(
        COMMAND "${CMAKE_COMMAND}" --build "${_standins_build}/${_pkg}" --target install --parallel 2
        RESULT_VARIABLE _result OUTPUT_FILE "${_log}.build" ERROR_FILE "${_log}.err")
    endif()
    if(NOT _result EQUAL 0)
      file(READ "${_log}.err" _err)
      message(FATAL_ERROR "Stand-in package ${_pkg} failed to build (see ${_log}):\n${_err}")
    endif()
  endforeach()
  file(WRITE "${_standins_stamp}" "${_standins_digest}")
endif()

list(PREPEND CMAKE_PREFIX_PATH "${VANTOREL_STANDINS_PREFIX}")
