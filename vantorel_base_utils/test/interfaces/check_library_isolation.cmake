# SPDX-License-Identifier: Apache-2.0
# Fails when a library depends on the package's interface libraries: a NEEDED entry or a
# link item naming one, or an undefined symbol through which it could load a library
# (dlopen) or reach a type-support handle (anything of rosidl_typesupport_cpp).
# In: LIBRARY (path of the shared library), LINK_ITEMS (its link items, joined by "|"),
#     PATTERN (regular expression matching the interface libraries' names).

function(readelf_lines out_var option)
  execute_process(COMMAND readelf ${option} --wide "${LIBRARY}"
    OUTPUT_VARIABLE _text RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "readelf ${option} failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" _text "${_text}")
  set(${out_var} "${_text}" PARENT_SCOPE)
endfunction()

# Appends to `findings` every line that matches both `selector` and `pattern`.
function(report_matches findings label lines selector pattern)
  set(_found "${${findings}}")
  foreach(_line IN LISTS lines)
    if(_line MATCHES "${selector}" AND _line MATCHES "${pattern}")
      string(APPEND _found "\n  ${label}: ${_line}")
    endif()
  endforeach()
  set(${findings} "${_found}" PARENT_SCOPE)
endfunction()

readelf_lines(_dynamic --dynamic)
readelf_lines(_symbols --dyn-syms)
string(REPLACE "|" ";" _items "${LINK_ITEMS}")

set(_findings "")
report_matches(_findings "needs" "${_dynamic}" "\\(NEEDED\\)" "${PATTERN}")
report_matches(_findings "undefined symbol" "${_symbols}" " UND "
  "(dlopen|dlmopen|rosidl_typesupport_cpp|${PATTERN})")
report_matches(_findings "link item" "${_items}" "." "${PATTERN}")

if(_findings)
  message(FATAL_ERROR "${LIBRARY} depends on the interface libraries:${_findings}")
endif()
message(STATUS "${LIBRARY}: no dependency on the interface libraries")
