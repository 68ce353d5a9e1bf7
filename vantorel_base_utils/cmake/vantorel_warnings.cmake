# SPDX-License-Identifier: Apache-2.0
option(VANTOREL_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

# Strict warnings for the project's own targets; dependencies come in as system headers.
function(vantorel_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
  if(VANTOREL_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
