# Fails when a library depends on the package's interface libraries: a NEEDED entry or a
# link item naming one, or an undefined symbol through which it could load a library
# (dlopen) or reach a type-support handle (anything of rosidl_typesupport_cpp).
# In: LIBRARY (path of the shared library), LINK_ITEMS (its link items, joined by "|"),
#     PATTERN (regular expression matching the interface libraries' names).
set(_type_support_pattern "${PATTERN}")

execute_process(COMMAND readelf --dynamic --wide "${LIBRARY}"
  OUTPUT_VARIABLE _dynamic RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
execute_process(COMMAND readelf --dyn-syms --wide "${LIBRARY}"
  OUTPUT_VARIABLE _symbols RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()

set(_findings "")
string(REPLACE "\n" ";" _dynamic_lines "${_dynamic}")
foreach(_line IN LISTS _dynamic_lines)
  if(_line MATCHES "\\(NEEDED\\)" AND _line MATCHES "${_type_support_pattern}")
    string(APPEND _findings "\n  needs: ${_line}")
  endif()
endforeach()
string(REPLACE "\n" ";" _symbol_lines "${_symbols}")
foreach(_line IN LISTS _symbol_lines)
  if(_line MATCHES " UND " AND _line MATCHES "(dlopen|dlmopen|rosidl_typesupport_cpp|${_type_support_pattern})")
    string(APPEND _findings "\n  undefined symbol: ${_line}")
  endif()
endforeach()
string(REPLACE "|" ";" _items "${LINK_ITEMS}")
foreach(_item IN LISTS _items)
  if(_item MATCHES "${_type_support_pattern}")
    string(APPEND _findings "\n  link item: ${_item}")
  endif()
endforeach()

if(_findings)
  message(FATAL_ERROR "${LIBRARY} depends on the interface libraries:${_findings}")
endif()
message(STATUS "${LIBRARY}: no dependency on the interface libraries")
