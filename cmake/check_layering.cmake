# Fails when a source file includes a header of a layer it may not depend on.
# Run by CTest as `cmake -DSOURCE_DIR=... -DLAYERS_FILE=... -P check_layering.cmake`.
# LAYERS_FILE (written by the top-level CMakeLists.txt) sets, per layer target,
# LAYER_DEPS_<target>: the targets it links directly. A file may include its own
# layer and everything its layer reaches through those links.
cmake_minimum_required(VERSION 3.25)
include(${LAYERS_FILE})

# The layer target of a path below src/: src/storage/<folder>/... is
# storage_<folder>, anything else src/<layer>/...
function(layer_of path out)
  if(path MATCHES "^storage/([a-z_]+)/")
    set(${out} "storage_${CMAKE_MATCH_1}" PARENT_SCOPE)
  elseif(path MATCHES "^([a-z_]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# Everything a layer reaches, itself included.
function(reach layer out)
  set(seen ${layer})
  set(todo ${layer})
  while(todo)
    list(POP_FRONT todo current)
    foreach(dep IN LISTS LAYER_DEPS_${current})
      if(NOT dep IN_LIST seen)
        list(APPEND seen ${dep})
        list(APPEND todo ${dep})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

set(failures "")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
foreach(source IN LISTS sources)
  layer_of(${source} layer)
  if(NOT DEFINED LAYER_DEPS_${layer})
    string(APPEND failures "  ${source}: folder is not a declared layer\n")
    continue()
  endif()
  reach(${layer} allowed)
  file(STRINGS ${SOURCE_DIR}/src/${source} includes REGEX "^#include \"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
    # The host knows the extension only through its exported ABI.
    if(layer STREQUAL "host" AND header STREQUAL "web/extension_abi.h")
      continue()
    endif()
    layer_of(${header} target)
    if(target AND NOT target IN_LIST allowed)
      string(APPEND failures "  ${source} (${layer}) includes ${header} (${target})\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes against the layer order:\n${failures}")
endif()
message(STATUS "Layering: every include points down")
