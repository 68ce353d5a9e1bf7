# SPDX-License-Identifier: Apache-2.0
# ament and rosidl run Python modules at configure and build time. On Debian they are
# installed for the system interpreter only, which may not be the python3 first on PATH.
if(NOT DEFINED Python3_EXECUTABLE)
  find_program(_vantorel_path_python3 NAMES python3)
  set(_vantorel_python_ok 1)
  if(_vantorel_path_python3)
    execute_process(COMMAND "${_vantorel_path_python3}" -c "import ament_package"
      RESULT_VARIABLE _vantorel_python_ok OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT _vantorel_python_ok EQUAL 0 AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python interpreter that has ament_package")
  endif()
endif()
