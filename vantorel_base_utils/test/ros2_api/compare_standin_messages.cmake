# SPDX-License-Identifier: Apache-2.0
# Fails when a stand-in message differs from the real package's: every stand-in .msg file
# must exist there with the same fields and constants (comments and spacing aside).
# In: STANDINS_DIR, REAL_MSG_DIRS ("<package>=<its msg folder>" joined by "|").

# The definitions of a .msg file, one per line: comments, blank lines and surplus spaces
# removed. Kept as one string, since comments hold brackets that CMake lists mistake.
function(definition_text out_var path)
  file(READ "${path}" _text)
  string(REGEX REPLACE "#[^\n]*" "" _text "${_text}")
  string(REGEX REPLACE "[ \t\r]+" " " _text "${_text}")
  string(REGEX REPLACE " *\n *" "\n" _text "${_text}")
  string(REGEX REPLACE "\n+" "\n" _text "${_text}")
  string(STRIP "${_text}" _text)
  set(${out_var} "${_text}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" _packages "${REAL_MSG_DIRS}")
set(_compared 0)
foreach(_entry IN LISTS _packages)
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${_entry}")
  set(_package "${CMAKE_MATCH_1}")
  set(_real_dir "${CMAKE_MATCH_2}")
  file(GLOB _standin_msgs "${STANDINS_DIR}/${_package}/msg/*.msg")
  foreach(_standin IN LISTS _standin_msgs)
    get_filename_component(_name "${_standin}" NAME)
    if(NOT EXISTS "${_real_dir}/${_name}")
      message(FATAL_ERROR "${_package}/msg/${_name}: no such message in ${_real_dir}")
    endif()
    definition_text(_ours "${_standin}")
    definition_text(_theirs "${_real_dir}/${_name}")
    if(NOT _ours STREQUAL _theirs)
      message(FATAL_ERROR "${_package}/msg/${_name} differs from ${_real_dir}/${_name}:\n"
        "stand-in:\n${_ours}\nreal:\n${_theirs}")
    endif()
    math(EXPR _compared "${_compared} + 1")
  endforeach()
endforeach()
if(_compared EQUAL 0)
  message(FATAL_ERROR "no stand-in message found under ${STANDINS_DIR}")
endif()
message(STATUS "${_compared} stand-in messages match the real ones")
