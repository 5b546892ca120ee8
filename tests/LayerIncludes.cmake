cmake_minimum_required(VERSION 3.25)
# Fails when a source includes a header of a layer above its own: every
# library exports src/ as its include root, so the compiler cannot tell.
# Run as: cmake -DSOURCE_DIR=<repo>/src -P LayerIncludes.cmake
set(allowed_platform platform)
set(allowed_data data platform)
set(allowed_dragdrop dragdrop platform)
set(allowed_controls controls)
set(allowed_ui ui controls dragdrop data platform)
set(allowed_app app ui controls dragdrop data platform)

set(violations "")
foreach(layer platform data dragdrop controls ui app)
  file(GLOB sources ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
      if(NOT target IN_LIST allowed_${layer})
        list(APPEND violations "${source}: ${line} (${layer} may include only ${allowed_${layer}})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "Includes that point up a layer:\n${text}")
endif()
