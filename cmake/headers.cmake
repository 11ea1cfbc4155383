# Gives a target an include folder of its own holding only the given parts of
# the source tree (folders or single headers, at their source-relative place),
# so that `#include "serial/serial_port.h"` works in a target exactly when it
# links the library that owns the header:
#   quorvel_headers(quorvel_serial PUBLIC serial)
function(quorvel_headers target scope)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(part ${ARGN})
    get_filename_component(parent ${root}/${part} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${part})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${part} ${root}/${part} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()
