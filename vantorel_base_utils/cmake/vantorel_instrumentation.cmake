# SPDX-License-Identifier: Apache-2.0
# Instrumented builds: sanitizers for a whole build tree, and libFuzzer targets. Included
# before any target is defined, so that every target of the tree gets the same flags.
#
# VANTOREL_SANITIZERS: comma-separated list handed to -fsanitize (for example "address,undefined").
set(VANTOREL_SANITIZERS "" CACHE STRING "Sanitizers for the whole build, e.g. address,undefined")
if(VANTOREL_SANITIZERS)
  add_compile_options(-fsanitize=${VANTOREL_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${VANTOREL_SANITIZERS})
endif()

# Fuzzing needs its own build tree (scripts/run_fuzzers.sh): everything in it is compiled
# with coverage instrumentation for libFuzzer and with ASan + UBSan.
option(VANTOREL_BUILD_FUZZERS "Build the libFuzzer targets in fuzz/ (clang++ only)" OFF)
if(VANTOREL_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VANTOREL_BUILD_FUZZERS needs -DCMAKE_CXX_COMPILER=clang++ "
      "(found ${CMAKE_CXX_COMPILER_ID})")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
