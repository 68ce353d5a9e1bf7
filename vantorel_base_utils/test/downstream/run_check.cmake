# SPDX-License-Identifier: Apache-2.0
# Installs the built package into a fresh prefix, then configures, builds and runs the
# consumer project against that prefix alone.
# In: BUILD_DIR, SOURCE_DIR, WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "downstream check step failed (${result}): ${ARGN}")
  endif()
endfunction()
run_step("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
run_step("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
  "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix")
run_step("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
# Type supports are found through LD_LIBRARY_PATH, as in a sourced workspace: the installed
# prefix goes in front of whatever the environment already offers (a ROS 2 installation's
# libraries, for one).
set(_library_path "${WORK_DIR}/prefix/lib")
if(NOT "$ENV{LD_LIBRARY_PATH}" STREQUAL "")
  string(APPEND _library_path ":$ENV{LD_LIBRARY_PATH}")
endif()
run_step("${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${_library_path}"
  "${WORK_DIR}/build/downstream_check")
