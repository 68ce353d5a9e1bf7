# VANTOREL_SANITIZERS: comma-separated list handed to -fsanitize (for example "address,undefined").
set(VANTOREL_SANITIZERS "" CACHE STRING "Sanitizers for the whole build, e.g. address,undefined")
if(VANTOREL_SANITIZERS)
  add_compile_options(-fsanitize=${VANTOREL_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${VANTOREL_SANITIZERS})
endif()
